#pragma once

// The dashboard's fixed texts, embedded at build time by cmake/embed.cmake
// from the files of the same names in src/page/ (see page.cmake). Each is a
// byte array (followed by one NUL that the length does not count) and its
// length in bytes. All are ASCII with LF line ends; the scripts hold no
// "</script" and the sheets no "</style" (the build fails otherwise).

#include <stddef.h>

#define PAGE_ASSET(sym)                  \
  extern const unsigned char sym[];      \
  extern const size_t sym##_len;

PAGE_ASSET(page_doc_start_html)     // doctype, html, head, title, <script>
PAGE_ASSET(page_theme_first_js)     // first-paint theme script
PAGE_ASSET(page_head_mid_html)      // </script>, LF, <style>
PAGE_ASSET(page_theme_css)          // shared theme sheet
PAGE_ASSET(page_page_css)           // page sheet
PAGE_ASSET(page_map_css)            // page sheet: the folder map, memory file systems
PAGE_ASSET(page_compare_css)        // page sheet: the comparison, the table at every width
PAGE_ASSET(page_kinds_css)          // page sheet: the files by type and by age
PAGE_ASSET(page_head_end_html)      // </style></head><script>
PAGE_ASSET(page_bridge_js)          // theme bridge script
PAGE_ASSET(page_body_start_html)    // </script>, LF, <body><div class="wrap">
PAGE_ASSET(page_top_html)           // top bar
PAGE_ASSET(page_card_summary_html)  // storage summary card
PAGE_ASSET(page_card_mounts_html)   // mounted filesystems card
PAGE_ASSET(page_card_dirs_html)     // folder breakdown card
PAGE_ASSET(page_card_largest_html)  // largest files card
PAGE_ASSET(page_card_about_html)    // about card
PAGE_ASSET(page_direct_html)        // direct-open line
PAGE_ASSET(page_script_start_html)  // <script>, LF, (function(){, LF
PAGE_ASSET(page_client_js)          // client script body
PAGE_ASSET(page_map_js)             // client script body: the folder map
PAGE_ASSET(page_compare_js)         // client script body: earlier looks and the change
PAGE_ASSET(page_kinds_js)           // client script body: the files by type and by age
PAGE_ASSET(page_script_end_html)    // })();, LF, </script></body></html>, LF

#undef PAGE_ASSET

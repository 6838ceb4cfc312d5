#include "page/page.h"

#include "reply/bytes.h"
#include "page/assets.h"

// The header block: the only piece that is not a file (its lines end in
// CR LF, which the LF-only page texts never hold).
static const char header_block[] =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";

struct piece {
  const unsigned char *bytes;
  const size_t *len;
};

#define PIECE(sym) {sym, &sym##_len}

// The page up to the About card: document start, head, top bar and cards.
static const piece before_direct[] = {
    PIECE(page_doc_start_html),  PIECE(page_theme_first_js),   PIECE(page_head_mid_html),
    PIECE(page_theme_css),       PIECE(page_page_css),         PIECE(page_map_css),
    PIECE(page_compare_css),
    PIECE(page_kinds_css),
    PIECE(page_head_end_html),
    PIECE(page_bridge_js),       PIECE(page_body_start_html),  PIECE(page_top_html),
    PIECE(page_card_summary_html), PIECE(page_card_mounts_html), PIECE(page_card_dirs_html),
    PIECE(page_card_largest_html), PIECE(page_card_about_html),
};

// After the direct-open line: the client script and the document end.
static const piece after_direct[] = {
    PIECE(page_script_start_html),
    PIECE(page_client_js),
    PIECE(page_map_js),
    PIECE(page_compare_js),
    PIECE(page_kinds_js),
    PIECE(page_script_end_html),
};

// Raw bytes with their known length: the texts hold "%" and never pass
// through a formatting function. Write results are not looked at.
static void put(const piece &p) { out_bytes((const char *)p.bytes, *p.len); }

void write_page(int embedded) {
  out_bytes(header_block, sizeof header_block - 1);
  for (const piece &p : before_direct) put(p);
  if (!embedded) put(PIECE(page_direct_html));
  for (const piece &p : after_direct) put(p);
}

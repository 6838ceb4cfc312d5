# The dashboard page: its fixed texts are files beside this one, turned into
# byte arrays at build time by cmake/embed.cmake (one generated .cpp per
# file, in the build tree). Nothing is read at run time.
# Included by the top CMakeLists.txt; sets PAGE_SOURCES, PAGE_INCLUDE_DIRS
# and PAGE_DEPENDS.

set(PAGE_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../../cmake/embed.cmake)
get_filename_component(PAGE_EMBED_SCRIPT ${PAGE_EMBED_SCRIPT} ABSOLUTE)
set(PAGE_GEN_DIR ${CMAKE_CURRENT_BINARY_DIR}/page_gen)
file(MAKE_DIRECTORY ${PAGE_GEN_DIR})

# In the order the page writes them (see page.cpp and src/page/assets.h).
set(PAGE_ASSETS
  doc_start.html
  theme_first.js
  head_mid.html
  theme.css
  page.css
  map.css
  compare.css
  kinds.css
  head_end.html
  bridge.js
  body_start.html
  top.html
  card_summary.html
  card_mounts.html
  card_dirs.html
  card_largest.html
  card_about.html
  direct.html
  script_start.html
  client.js
  map.js
  compare.js
  kinds.js
  script_end.html
)

set(PAGE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/page.cpp)
foreach(asset IN LISTS PAGE_ASSETS)
  string(MAKE_C_IDENTIFIER "page_${asset}" sym)
  set(in ${CMAKE_CURRENT_LIST_DIR}/${asset})
  set(out ${PAGE_GEN_DIR}/${sym}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${in} -DOUT=${out} -DNAME=${sym} -P ${PAGE_EMBED_SCRIPT}
    DEPENDS ${in} ${PAGE_EMBED_SCRIPT}
    COMMENT "Embedding src/page/${asset}"
    VERBATIM)
  list(APPEND PAGE_SOURCES ${out})
endforeach()

# The generated sources include "page/assets.h" through src/, which the
# library already has on its include path.
set(PAGE_INCLUDE_DIRS)
set(PAGE_DEPENDS)

# The embed script refuses texts that would break the page: checked here
# once per configure-time case, as tests (native builds only).
if(PLUGIN_TESTS AND NOT CMAKE_CROSSCOMPILING)
  set(bad ${CMAKE_CURRENT_BINARY_DIR}/embed_check)
  file(WRITE ${bad}/script_end.js "var s = '</SCRIPT>';\n")
  file(WRITE ${bad}/style_end.css "a { color: red; } </style>\n")
  file(WRITE ${bad}/comment.js "var s = '<!--';\n")
  file(WRITE ${bad}/ok.js "var s = '<\\/script>';\n")
  foreach(case IN ITEMS script_end.js style_end.css comment.js)
    add_test(NAME page_embed_refuses_${case}
      COMMAND ${CMAKE_COMMAND} -DIN=${bad}/${case} -DOUT=${bad}/${case}.cpp -DNAME=x -P ${PAGE_EMBED_SCRIPT})
    set_tests_properties(page_embed_refuses_${case} PROPERTIES WILL_FAIL TRUE)
  endforeach()
  add_test(NAME page_embed_accepts_escaped_end
    COMMAND ${CMAKE_COMMAND} -DIN=${bad}/ok.js -DOUT=${bad}/ok.js.cpp -DNAME=x -P ${PAGE_EMBED_SCRIPT})
endif()

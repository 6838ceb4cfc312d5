# Page sources; the dashboard texts will be embedded here.
set(PAGE_SOURCES src/page/page.cpp)
set(PAGE_INCLUDE_DIRS)
set(PAGE_DEPENDS)

# Black-box cases: the program is started as the host starts it and its
# bytes are compared. Included from tests/CMakeLists.txt.
#   blackbox_fixtures  builds the home trees once (shared by both runs)
#   blackbox_fixtures_remove  removes them when the cases that use them end
#                      (they hold about 240000 entries and sparse files of
#                      several TiB)
#   blackbox_native    every case against the native program
#   blackbox_wine      the same cases against PLUGIN_EXE under Wine
#                      (both also check each JSON reply against docs/schema)
#   mounts_vs_df       the native mounts reply against df on this machine
#   disk_vs_du         the native detail reply's disk_bytes against du
#   kinds_vs_find      the detail reply's types and ages against find's
#                      account of the same trees, natively and (with
#                      PLUGIN_EXE) under Wine

find_program(BLACKBOX_NODE NAMES node nodejs)
if(NOT BLACKBOX_NODE)
  message(STATUS "node not found: black-box tests are not registered")
  return()
endif()

set(BLACKBOX_DIR ${CMAKE_CURRENT_LIST_DIR})
set(BLACKBOX_FIXTURES ${CMAKE_CURRENT_BINARY_DIR}/blackbox-fixtures)
# Every JSON reply of both runs must also meet its schema.
set(BLACKBOX_SCHEMAS ${CMAKE_SOURCE_DIR}/docs/schema)

add_test(NAME blackbox_fixtures
  COMMAND ${BLACKBOX_NODE} ${BLACKBOX_DIR}/fixtures.js ${BLACKBOX_FIXTURES})
set_tests_properties(blackbox_fixtures PROPERTIES FIXTURES_SETUP blackbox_trees)
add_test(NAME blackbox_fixtures_remove
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${BLACKBOX_FIXTURES})
set_tests_properties(blackbox_fixtures_remove PROPERTIES FIXTURES_CLEANUP blackbox_trees)

add_test(NAME blackbox_native
  COMMAND ${BLACKBOX_NODE} ${BLACKBOX_DIR}/run.js
    --program $<TARGET_FILE:plugin_disks>
    --fixtures ${BLACKBOX_FIXTURES}
    --schemas ${BLACKBOX_SCHEMAS}
    ${BLACKBOX_DIR}/cases)
set_tests_properties(blackbox_native PROPERTIES
  FIXTURES_REQUIRED blackbox_trees)

if(PLUGIN_EXE)
  find_program(BLACKBOX_WINE wine)
  if(NOT BLACKBOX_WINE)
    message(FATAL_ERROR "PLUGIN_EXE is set but wine is not installed")
  endif()
  add_test(NAME blackbox_wine
    COMMAND ${BLACKBOX_NODE} ${BLACKBOX_DIR}/run.js --wine
      --program ${PLUGIN_EXE}
      --fixtures ${BLACKBOX_FIXTURES}
      --schemas ${BLACKBOX_SCHEMAS}
      ${BLACKBOX_DIR}/cases)
  set_tests_properties(blackbox_wine PROPERTIES
    FIXTURES_REQUIRED blackbox_trees
    ENVIRONMENT "WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/blackbox-wineprefix;WINE=${BLACKBOX_WINE}"
    TIMEOUT 900)
endif()

if(CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
  add_test(NAME disk_vs_du
    COMMAND ${BLACKBOX_NODE} ${BLACKBOX_DIR}/disk_vs_du.js $<TARGET_FILE:plugin_disks> ${BLACKBOX_FIXTURES})
  set_tests_properties(disk_vs_du PROPERTIES FIXTURES_REQUIRED blackbox_trees)
  add_test(NAME mounts_vs_df
    COMMAND ${BLACKBOX_NODE} ${BLACKBOX_DIR}/mounts_vs_df.js $<TARGET_FILE:plugin_disks>)
  add_test(NAME kinds_vs_find
    COMMAND ${BLACKBOX_NODE} ${BLACKBOX_DIR}/kinds_vs_find.js $<TARGET_FILE:plugin_disks> ${BLACKBOX_FIXTURES})
  set_tests_properties(kinds_vs_find PROPERTIES FIXTURES_REQUIRED blackbox_trees)
  if(PLUGIN_EXE)
    # A prefix of its own: the black-box run ends its wineserver when done.
    add_test(NAME kinds_vs_find_wine
      COMMAND ${BLACKBOX_NODE} ${BLACKBOX_DIR}/kinds_vs_find.js --wine ${PLUGIN_EXE} ${BLACKBOX_FIXTURES})
    set_tests_properties(kinds_vs_find_wine PROPERTIES
      FIXTURES_REQUIRED blackbox_trees
      ENVIRONMENT "WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/kinds-wineprefix"
      TIMEOUT 900)
  endif()
endif()

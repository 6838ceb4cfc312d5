# Install rules and CPack packages. Included from the top CMakeLists.txt.
#
#   Linux:   cmake --install build --prefix /usr   puts the program in
#            /usr/lib/plugin-disks/plugin_disks, a folder of its own that no
#            web server serves by default (Debian's servers serve
#            /usr/lib/cgi-bin/ at /cgi-bin/, past the snippets' password), the docs in /usr/share/doc/plugin-disks/ and the web servers'
#            snippets in /etc (PLUGIN_CONF_DIR; DESTDIR applies).
#            (cd build && cpack) writes the .deb and a .tar.gz of the same files.
#   Windows: (cd build-win && cpack) writes a .zip holding plugin_disks.exe.
#
# scripts/package runs both and collects the files in dist/.

if(WIN32)
  set(PLUGIN_BIN_DIR_DEFAULT .)
  set(PLUGIN_DOC_DIR_DEFAULT .)
else()
  set(PLUGIN_BIN_DIR_DEFAULT lib/plugin-disks)
  set(PLUGIN_DOC_DIR_DEFAULT share/doc/plugin-disks)
endif()
set(PLUGIN_BIN_DIR ${PLUGIN_BIN_DIR_DEFAULT} CACHE STRING "Folder of the program, under the install prefix")
set(PLUGIN_DOC_DIR ${PLUGIN_DOC_DIR_DEFAULT} CACHE STRING "Folder of the README and change log, under the install prefix")

install(TARGETS plugin_disks RUNTIME DESTINATION ${PLUGIN_BIN_DIR})
# The README and the guides link to docs/...: the same tree goes with them.
install(FILES README.md CHANGELOG.md DESTINATION ${PLUGIN_DOC_DIR})
install(FILES docs/deploy.md docs/api.md docs/prometheus.md docs/dashboard-light.png
  docs/dashboard-dark.png docs/dashboard-drill.png docs/dashboard-320-light.png docs/dashboard-360-light.png
  docs/dashboard-360-dark.png docs/dashboard-414-light.png docs/dashboard-compare.png DESTINATION ${PLUGIN_DOC_DIR}/docs)
install(DIRECTORY docs/schema DESTINATION ${PLUGIN_DOC_DIR}/docs FILES_MATCHING PATTERN "*.json")
# The Prometheus scrape configuration, alert rules and target files.
install(DIRECTORY docs/prometheus DESTINATION ${PLUGIN_DOC_DIR}/docs FILES_MATCHING PATTERN "*.yml")

if(NOT WIN32)
  # The servers' snippets, where Debian's servers look for them. They are
  # configuration files: /etc, whatever the prefix, and conffiles in the
  # .deb. Each holds the home folder and may hold the password.
  set(PLUGIN_CONF_DIR /etc CACHE PATH "Folder of the web servers' configuration (absolute)")
  install(FILES conf/apache2/plugin-disks.conf DESTINATION ${PLUGIN_CONF_DIR}/apache2/conf-available)
  install(FILES conf/lighttpd/50-plugin-disks.conf DESTINATION ${PLUGIN_CONF_DIR}/lighttpd/conf-available)
  install(FILES conf/nginx/plugin-disks.conf DESTINATION ${PLUGIN_CONF_DIR}/nginx/snippets)
endif()

# Debian's package names allow no underscore.
set(CPACK_PACKAGE_NAME plugin-disks)
set(CPACK_PACKAGE_VENDOR "plugin_disks")
set(CPACK_PACKAGE_CONTACT "plugin_disks maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Storage report of a node: drives, home folder sizes, dashboard (CGI)")
set(CPACK_PACKAGE_DESCRIPTION
  "A CGI program for the plugin host: for each request it answers with JSON (the drives, a bounded size breakdown of the home folder, its own identity) or with a self-contained HTML dashboard that polls them. Statically linked; it reads local storage only.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The packaging's own revision, above the program's version (which every
# reply carries and stays as it is): a package that changes its layout or
# its scripts gets a new one, so that apt offers it as an upgrade and
# dpkg -l tells the two apart. The archives' names carry it too.
set(PLUGIN_PACKAGE_REVISION 2)
set(PLUGIN_PACKAGE_VERSION ${PROJECT_VERSION}-${PLUGIN_PACKAGE_REVISION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PLUGIN_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PLUGIN_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${PLUGIN_PACKAGE_REVISION})
  # Both archives hold the same tree as the .deb: usr/... and etc/....
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION web)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # A static program: no shared library to depend on.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "apache2 | lighttpd | nginx, fcgiwrap")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/conf/deb/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/conf/deb/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/conf/deb/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The /etc files are installed by absolute path: into the package's tree,
  # never into the machine's /etc while packing.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
endif()

include(CPack)

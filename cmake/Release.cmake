# What is installed, and the release files CPack makes from it (`make dist` runs both trees):
#   Windows: dist/tarnwick-<version>-windows.zip, one folder Tarnwick\ with tarnwick.exe, the sample
#            1.htm and README.txt (ASCII, CR LF), so that the program finds its template beside it.
#   Linux:   dist/tarnwick_<version>_<arch>.deb, the program in bin/, its drawing process in
#            libexec/tarnwick/ and the sample template in share/tarnwick/ (where the program looks
#            for them from its own folder: ../libexec/tarnwick, ../share/tarnwick),
#            the menu entry, the AppStream metainfo, the icon in the hicolor theme, the copyright,
#            changelog and manual page; its dependencies come from the program's libraries.
# `cmake --install <build> --prefix <folder>` puts the same files under any prefix. Another
# program installed beside tarnwick adds its own install(TARGETS ...) with the GNUInstallDirs
# folders (CMAKE_INSTALL_BINDIR, or CMAKE_INSTALL_LIBEXECDIR for a helper no one starts by hand),
# its target to tarnwick_installed's dependencies below, and its file to the list
# tests/dist/package_test.sh expects.
if(NOT TARGET tarnwick)
  return()  # no program window built (TARNWICK_GUI off): nothing to install
endif()
# Installing (and CPack) does not build every test first: `make install` and `make dist` build
# tarnwick_installed, what is installed.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(tarnwick_installed ALL)
add_dependencies(tarnwick_installed tarnwick)
if(TARGET tarnwick-drawer)
  add_dependencies(tarnwick_installed tarnwick-drawer)  # the page's drawing process
endif()

set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "The Tarnwick authors")
set(CPACK_PACKAGE_CONTACT "The Tarnwick authors <support@tarnwick.example.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://www.tarnwick.example.com)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make an HTML page the desktop picture")
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  string(LENGTH "Tarnwick ${TARNWICK_VERSION_TEXT}" TARNWICK_TITLE_LENGTH)
  string(REPEAT "=" ${TARNWICK_TITLE_LENGTH} TARNWICK_TITLE_UNDERLINE)
  configure_file(packaging/README.txt.in ${TARNWICK_GENERATED}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS tarnwick RUNTIME DESTINATION .)
  install(FILES resources/1.htm ${TARNWICK_GENERATED}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarnwick-${PROJECT_VERSION}-windows)
  # One folder with an 8.3 name, whatever unpacks it.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGING_INSTALL_PREFIX /Tarnwick)
else()
  set(TARNWICK_DOCS ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES resources/1.htm DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnwick)
  install(FILES packaging/com.example.tarnwick.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(packaging/com.example.tarnwick.metainfo.xml.in ${TARNWICK_GENERATED}/com.example.tarnwick.metainfo.xml
                 @ONLY)
  install(FILES ${TARNWICK_GENERATED}/com.example.tarnwick.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The icon's own frames (tools/make_resources.sh extracts them from tarnwick.ico).
  foreach(size 16 32 48)
    install(FILES resources/icons/tarnwick-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tarnwick.png)
  endforeach()
  install(FILES packaging/copyright DESTINATION ${TARNWICK_DOCS})

  # The changelog and the manual page, compressed as Debian wants them: gzip -9, no name or time.
  configure_file(packaging/changelog.in ${TARNWICK_GENERATED}/changelog.in @ONLY)
  set(TARNWICK_GZ_DIR ${TARNWICK_GENERATED}/gz)
  add_custom_command(
    OUTPUT ${TARNWICK_GZ_DIR}/changelog.gz ${TARNWICK_GZ_DIR}/tarnwick.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TARNWICK_GZ_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${TARNWICK_GENERATED}/changelog.in ${TARNWICK_GZ_DIR}/changelog
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/tarnwick.1 ${TARNWICK_GZ_DIR}/tarnwick.1
    COMMAND gzip -9nf ${TARNWICK_GZ_DIR}/changelog ${TARNWICK_GZ_DIR}/tarnwick.1
    DEPENDS ${TARNWICK_GENERATED}/changelog.in ${PROJECT_SOURCE_DIR}/packaging/tarnwick.1
    VERBATIM)
  add_custom_target(tarnwick_compressed_docs DEPENDS ${TARNWICK_GZ_DIR}/changelog.gz ${TARNWICK_GZ_DIR}/tarnwick.1.gz)
  add_dependencies(tarnwick_installed tarnwick_compressed_docs)
  install(FILES ${TARNWICK_GZ_DIR}/changelog.gz DESTINATION ${TARNWICK_DOCS})
  install(FILES ${TARNWICK_GZ_DIR}/tarnwick.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION x11)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tarnwick is a small panel. Run Tarnwick fills an HTML template with the\n"
    "screen's size, draws the page and makes it the desktop picture, through\n"
    "the desktop's own settings, the desktop portal or the X root window.\n"
    "Close Tarnwick puts a plain black picture in its place. The template is\n"
    "a sample the user may replace with a page of their own.")
  # The libraries the program links (Qt WebEngine's bring its page process); the font the
  # panel's Arial resolves to; and DejaVu: fontconfig's faces for a page's common families that
  # no package of Debian's holds (the sample's Verdana: DejaVu Sans; Georgia: DejaVu Serif), and
  # the serif Qt WebEngine draws a family in that it takes no stand-in for (DejaVu Serif).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, fonts-dejavu-core")
endif()

include(CPack)

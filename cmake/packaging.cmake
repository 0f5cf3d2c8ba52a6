# What the Debian package installs, and how CPack makes it (make dist runs
# `cpack -G DEB` in the Linux build). The program goes to /usr/games and its
# data to /usr/share/games/viriz, where the program looks for it beside its
# own folder.
set(VIRIZ_DATA_DESTINATION share/games/viriz)
install(TARGETS viriz RUNTIME DESTINATION games)
install(FILES ${CMAKE_BINARY_DIR}/bin/data.dat DESTINATION ${VIRIZ_DATA_DESTINATION})
install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/data DESTINATION ${VIRIZ_DATA_DESTINATION})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/viriz.desktop DESTINATION share/applications)
# The icon is cut from a frame of the show by make dist.
install(FILES ${CMAKE_BINARY_DIR}/packaging/viriz.png
  DESTINATION share/icons/hicolor/64x64/apps OPTIONAL)
install(FILES ${CMAKE_BINARY_DIR}/packaging/viriz.6.gz DESTINATION share/man/man6 OPTIONAL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/viriz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION share/doc/viriz OPTIONAL)

set(CPACK_PACKAGE_NAME viriz)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "viriz developers <viriz@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audiovisual demo")
# CPack starts every line after the summary with a space; "." is an empty line.
set(CPACK_PACKAGE_DESCRIPTION
  "A mesh that moves, glows and changes its colours in step with its own\nmusic, drawn with OpenGL in real time for about a minute and a quarter.\nEscape ends it.\n.\nWarning: the show contains flashing lights. Start it with\nviriz --reduced-flashing for a version with reduced flashing.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)

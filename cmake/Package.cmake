# What `cmake --install` puts on a system, and the Debian package CPack makes of it (tools/package).
include(GNUInstallDirs)

set(OSTREL_DESKTOP_ENTRY "${PROJECT_BINARY_DIR}/desktop/${OSTREL_APP_ID}.desktop")
set(OSTREL_METAINFO "${PROJECT_BINARY_DIR}/desktop/${OSTREL_APP_ID}.metainfo.xml")
configure_file(res/desktop/ostrel.desktop.in "${OSTREL_DESKTOP_ENTRY}" @ONLY)
configure_file(res/desktop/ostrel.metainfo.xml.in "${OSTREL_METAINFO}" @ONLY)

# Debian wants the change log and the manual page compressed without a time stamp, so that builds
# are reproducible.
set(changelog "${PROJECT_BINARY_DIR}/packaging/changelog.gz")
set(manual "${PROJECT_BINARY_DIR}/packaging/ostrel.1.gz")
foreach(compressed IN ITEMS "${changelog}" "${manual}")
    get_filename_component(name "${compressed}" NAME_WLE)
    add_custom_command(OUTPUT "${compressed}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/packaging"
        COMMAND gzip -n -9 -c "${PROJECT_SOURCE_DIR}/res/packaging/${name}" > "${compressed}"
        DEPENDS "res/packaging/${name}" VERBATIM)
endforeach()
add_custom_target(ostrel_package_docs ALL DEPENDS "${changelog}" "${manual}")

set(docdir "${CMAKE_INSTALL_DATADIR}/doc/ostrel")
install(TARGETS ostrel RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${OSTREL_DESKTOP_ENTRY}" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${OSTREL_METAINFO}" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
foreach(size 16 24 32 48 64 128 256)
    install(FILES res/icon/ostrel-${size}.png RENAME "${OSTREL_APP_ID}.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
install(FILES res/icon/ostrel.svg RENAME "${OSTREL_APP_ID}.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES README.md res/packaging/copyright "${changelog}" DESTINATION "${docdir}")
install(FILES "${manual}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "Ostrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "skinned setup downloader for the players of a game service")
set(CPACK_PACKAGE_DESCRIPTION "Ostrel is the downloader a game service hands to its players. It shows the
service's skinned window, lists the files of the game and downloads the chosen
ones over HTTP or HTTPS into a folder the player may change, continuing
interrupted downloads where they stopped.

When every file is complete it checks their sizes, reports the end of the
download to the service and starts the game's installer. The configuration and
the skin are compiled into the program; --config FILE reads another one.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Ostrel developers <ostrel@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The skins name Korean faces; the window falls back to other fonts without them. Without qt6-wayland
# the window runs through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-nanum, qt6-wayland")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/package")
include(CPack)

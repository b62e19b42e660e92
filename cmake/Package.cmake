# What `cmake --install` puts on a system, and the Debian package CPack makes of it (tools/package).
include(GNUInstallDirs)

include(cmake/DesktopFiles.cmake)
ostrel_write_desktop_files("${PROJECT_BINARY_DIR}/desktop" OSTREL_DESKTOP_ENTRY OSTREL_METAINFO)

# The icons: Ostrel's own, or every size scaled from the service's PNG (centred on a transparent
# square when it is not one).
set(icon_sizes 16 24 32 48 64 128 256)
set(OSTREL_ICONS "")
if(OSTREL_ICON_PNG STREQUAL "")
    foreach(size IN LISTS icon_sizes)
        list(APPEND OSTREL_ICONS "${PROJECT_SOURCE_DIR}/res/icon/ostrel-${size}.png")
    endforeach()
else()
    find_program(OSTREL_CONVERT convert REQUIRED)
    get_filename_component(icon_source "${OSTREL_ICON_PNG}" ABSOLUTE)
    foreach(size IN LISTS icon_sizes)
        set(icon "${PROJECT_BINARY_DIR}/icon/${size}.png")
        add_custom_command(OUTPUT "${icon}"
            COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/icon"
            COMMAND "${OSTREL_CONVERT}" "${icon_source}" -background none -resize ${size}x${size}
                -gravity center -extent ${size}x${size} -strip "PNG32:${icon}"
            DEPENDS "${icon_source}" VERBATIM)
        list(APPEND OSTREL_ICONS "${icon}")
    endforeach()
endif()
add_custom_target(ostrel_icons ALL DEPENDS ${OSTREL_ICONS})

# The change log's newest entry names the package and the version of this build.
file(READ res/packaging/changelog changelog_text)
string(REGEX REPLACE "^ostrel \\([^)]*\\)" "${OSTREL_EXECUTABLE_NAME} (${PROJECT_VERSION})" changelog_text
    "${changelog_text}")
file(WRITE "${PROJECT_BINARY_DIR}/packaging/changelog.new" "${changelog_text}")
file(COPY_FILE "${PROJECT_BINARY_DIR}/packaging/changelog.new" "${PROJECT_BINARY_DIR}/packaging/changelog"
    ONLY_IF_DIFFERENT)
file(REMOVE "${PROJECT_BINARY_DIR}/packaging/changelog.new")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS res/packaging/changelog)

# Debian wants the change log and the manual page compressed without a time stamp, so that builds
# are reproducible.
set(changelog "${PROJECT_BINARY_DIR}/packaging/changelog.gz")
set(manual "${PROJECT_BINARY_DIR}/packaging/${OSTREL_EXECUTABLE_NAME}.1.gz")
set(cli_manual "${PROJECT_BINARY_DIR}/packaging/${OSTREL_EXECUTABLE_NAME}-cli.1.gz")
set(release_manual "${PROJECT_BINARY_DIR}/packaging/${OSTREL_EXECUTABLE_NAME}-release.1.gz")
foreach(pair IN ITEMS "${PROJECT_BINARY_DIR}/packaging/changelog>${changelog}"
                      "${PROJECT_SOURCE_DIR}/res/packaging/ostrel.1>${manual}"
                      "${PROJECT_SOURCE_DIR}/res/packaging/ostrel-cli.1>${cli_manual}"
                      "${PROJECT_SOURCE_DIR}/res/packaging/ostrel-release.1>${release_manual}")
    string(REPLACE ">" ";" pair "${pair}")
    list(GET pair 0 plain)
    list(GET pair 1 compressed)
    add_custom_command(OUTPUT "${compressed}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/packaging"
        COMMAND gzip -n -9 -c "${plain}" > "${compressed}"
        DEPENDS "${plain}" VERBATIM)
endforeach()
add_custom_target(ostrel_package_docs ALL DEPENDS "${changelog}" "${manual}" "${cli_manual}" "${release_manual}")

set(docdir "${CMAKE_INSTALL_DATADIR}/doc/${OSTREL_EXECUTABLE_NAME}")
# The release tool is for the service, not the player: the .deb carries it, the .run does not.
install(TARGETS ostrel ostrel-cli ostrel-release RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${OSTREL_DESKTOP_ENTRY}" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${OSTREL_METAINFO}" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
foreach(size icon IN ZIP_LISTS icon_sizes OSTREL_ICONS)
    install(FILES "${icon}" RENAME "${OSTREL_APP_ID}.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
if(OSTREL_ICON_PNG STREQUAL "") # a service's PNG has no drawing to scale
    install(FILES res/icon/ostrel.svg RENAME "${OSTREL_APP_ID}.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
endif()
install(FILES README.md res/packaging/copyright "${changelog}" DESTINATION "${docdir}")
install(FILES "${manual}" "${cli_manual}" "${release_manual}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME "${OSTREL_EXECUTABLE_NAME}")
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

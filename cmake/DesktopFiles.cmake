# ostrel_write_desktop_files(<dir> <entry variable> <metainfo variable>): writes the desktop entry and
# the AppStream metadata of the branding in OSTREL_DISPLAY_NAME, OSTREL_EXECUTABLE_NAME, OSTREL_APP_ID
# and PROJECT_VERSION into <dir>, named after the application ID, and sets the two variables to them.
function(ostrel_write_desktop_files dir out_entry out_metainfo)
    set(${out_entry} "${dir}/${OSTREL_APP_ID}.desktop")
    set(${out_metainfo} "${dir}/${OSTREL_APP_ID}.metainfo.xml")
    configure_file("${PROJECT_SOURCE_DIR}/res/desktop/ostrel.desktop.in" "${${out_entry}}" @ONLY)
    configure_file("${PROJECT_SOURCE_DIR}/res/desktop/ostrel.metainfo.xml.in" "${${out_metainfo}}" @ONLY)
    return(PROPAGATE ${out_entry} ${out_metainfo})
endfunction()

# ostrel_add_app_icon(<target> <png>): compiles the window's icon into <target> as the resource
# app_icon that src/ui/app_icon.cpp reads: Ostrel's own in every size, or the service's PNG (empty:
# Ostrel's own), which Qt scales to each size asked for.
function(ostrel_add_app_icon target png)
    set_target_properties(${target} PROPERTIES AUTORCC ON)
    if(png STREQUAL "")
        target_sources(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src/ui/app_icon.qrc")
        return()
    endif()
    get_filename_component(png "${png}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
    # The path is XML text in the resource file.
    string(REPLACE "&" "&amp;" png "${png}")
    string(REPLACE "<" "&lt;" png "${png}")
    set(qrc "${CMAKE_CURRENT_BINARY_DIR}/${target}_icon/app_icon.qrc")
    file(CONFIGURE OUTPUT "${qrc}" @ONLY CONTENT [[<!DOCTYPE RCC><RCC version="1.0">
<qresource prefix="/icons">
    <file alias="service.png">@png@</file>
</qresource>
</RCC>
]])
    target_sources(${target} PRIVATE "${qrc}")
endfunction()

# Turns a service's strings file into C++ the string table includes: lines `ID<TAB>text`, the text in
# UTF-8 with \n, \t and \\ as escapes; blank lines and lines starting with # are skipped. A line that is
# not so stops the configuration with its number, so a typo never ships as a missing text.
#
# A service that names its build (OSTREL_DISPLAY_NAME) but not its game (ID 155) shows its build's
# name as the window's title; Ostrel's own name leaves the built-in title alone.
#
# Also a script, for the tests: cmake -DSTRINGS_FILE=in -DOUTPUT=out -P StringOverrides.cmake

if(CMAKE_SCRIPT_MODE_FILE)
    cmake_minimum_required(VERSION 3.25)
endif()

# Writes `output`: the rows `{ID, "text"},` of `strings_file` (none for an empty name), and the title
# of the branding in OSTREL_DISPLAY_NAME.
function(ostrel_write_string_overrides strings_file output)
    set(rows "")
    set(seen "")
    if(NOT strings_file STREQUAL "")
        file(READ "${strings_file}" content)
        string(REPLACE "\r\n" "\n" content "${content}")
        set(number 0)
        string(ASCII 1 2 3 4 5 6 7 8 9 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 127
            controls)
        # Cut line by line rather than as a list: a text may hold ; [ and ], which lists mangle.
        while(NOT content STREQUAL "")
            math(EXPR number "${number} + 1")
            string(FIND "${content}" "\n" end)
            if(end EQUAL -1)
                set(line "${content}")
                set(content "")
            else()
                string(SUBSTRING "${content}" 0 ${end} line)
                math(EXPR end "${end} + 1")
                string(SUBSTRING "${content}" ${end} -1 content)
            endif()
            if(line STREQUAL "" OR line MATCHES "^#")
                continue()
            endif()
            set(where "${strings_file}:${number}")
            if(NOT line MATCHES "^([0-9]+)\t(.*)$")
                message(FATAL_ERROR "${where}: not ID<TAB>text: \"${line}\"")
            endif()
            set(id "${CMAKE_MATCH_1}")
            set(text "${CMAKE_MATCH_2}")
            if("${id}" IN_LIST seen)
                message(FATAL_ERROR "${where}: ID ${id} is given twice")
            endif()
            list(APPEND seen "${id}")
            if(text MATCHES "[${controls}]")
                message(FATAL_ERROR "${where}: the text holds a control character; write \\n or \\t")
            endif()
            # Left: pairs "\\", then \n or \t. C++ reads those three as the file means them.
            string(REPLACE "\\\\" "" bare "${text}")
            string(REGEX REPLACE "\\\\[nt]" "" bare "${bare}")
            if(bare MATCHES "\\\\")
                message(FATAL_ERROR "${where}: unknown escape; only \\n, \\t and \\\\ are known")
            endif()
            string(REPLACE "\"" "\\\"" text "${text}")
            string(APPEND rows "    {${id}, \"${text}\"},\n")
        endwhile()
    endif()
    # Branding.cmake holds the name to characters a C string takes as they are.
    if(NOT "155" IN_LIST seen AND NOT "${OSTREL_DISPLAY_NAME}" MATCHES "^(Ostrel)?$")
        string(APPEND rows "    {155, \"${OSTREL_DISPLAY_NAME}\"},\n")
    endif()
    # Untouched when unchanged, so that a new configuration rebuilds nothing.
    file(WRITE "${output}.new" "${rows}")
    file(COPY_FILE "${output}.new" "${output}" ONLY_IF_DIFFERENT)
    file(REMOVE "${output}.new")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    ostrel_write_string_overrides("${STRINGS_FILE}" "${OUTPUT}")
endif()

# The configure-time check of OSTREL_RELEASE_KEYS: a missing file and a file without a public key block
# stop with a message that names the file; the tests' keys pass. Run with -DEMBED=<cmake/Embed.cmake>.
# Each case runs this script again with -DKEYS=<file>, which only checks that file.
if(DEFINED KEYS)
    set(PROJECT_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}")
    include("${EMBED}")
    _ostrel_check_release_keys(variant "${KEYS}")
    return()
endif()

function(expect_check file expected_status expected_message)
    execute_process(COMMAND "${CMAKE_COMMAND}" -DEMBED=${EMBED} -DKEYS=${file} -P "${CMAKE_CURRENT_LIST_FILE}"
        RESULT_VARIABLE status ERROR_VARIABLE errors)
    string(REPLACE "\n" " " errors "${errors}")
    string(REGEX REPLACE " +" " " errors "${errors}")
    if(NOT status STREQUAL expected_status OR NOT errors MATCHES "${expected_message}")
        message(FATAL_ERROR "${file}: status ${status} (expected ${expected_status}), message: ${errors}")
    endif()
endfunction()

expect_check("${CMAKE_CURRENT_LIST_DIR}/absent.pem" 1
    "variant: the release keys file is not found: ${CMAKE_CURRENT_LIST_DIR}/absent.pem")
expect_check("${CMAKE_CURRENT_LIST_DIR}/first_private.pem" 1 "variant: the release keys file holds no public key")
expect_check("${CMAKE_CURRENT_LIST_DIR}/release_keys.pem" 0 "^$")

# ostrel_add_resources(<name> CONFIG <file> SKIN <file> REPORT_HOST <host> [KEYS <file>]): a static
# library holding what one variant of the program carries: the configuration document and the skin
# archive compiled in (an empty file name: none), the configuration's file name, the host of the end
# report and the public keys (PEM) a configuration from outside must be signed with (none: no signature
# is asked for). Every executable links exactly one.
function(ostrel_add_resources name)
    cmake_parse_arguments(R "" "CONFIG;SKIN;REPORT_HOST;KEYS" "" ${ARGN})
    if(NOT R_REPORT_HOST MATCHES "^[A-Za-z0-9.-]+(:[0-9]+)?$")
        message(FATAL_ERROR "${name}: the report host must be a host name, optionally with :port")
    endif()
    if(NOT "${R_KEYS}" STREQUAL "")
        _ostrel_check_release_keys(${name} "${R_KEYS}")
    endif()
    set(dir "${CMAKE_CURRENT_BINARY_DIR}/${name}")
    _ostrel_embed(${name} "${dir}" ostrel_embedded_config "${R_CONFIG}")
    _ostrel_embed(${name} "${dir}" ostrel_embedded_skin "${R_SKIN}")
    _ostrel_embed(${name} "${dir}" ostrel_release_keys "${R_KEYS}")
    file(CONFIGURE OUTPUT "${dir}/report_host.cpp" CONTENT
        "extern \"C\" const char ostrel_report_host[] = \"${R_REPORT_HOST}\";\n")
    get_filename_component(config_name "${R_CONFIG}" NAME)
    string(REGEX REPLACE "[^A-Za-z0-9._ +-]" "_" config_name "${config_name}") # safe in a C string
    file(CONFIGURE OUTPUT "${dir}/config_name.cpp" CONTENT
        "extern \"C\" const char ostrel_embedded_config_name[] = \"${config_name}\";\n")
    # Object files, so that they join the link wherever the library stands in it.
    add_library(${name} OBJECT "${dir}/ostrel_embedded_config.cpp" "${dir}/ostrel_embedded_skin.cpp"
        "${dir}/report_host.cpp" "${dir}/config_name.cpp" "${dir}/ostrel_release_keys.cpp")
endfunction()

# A build that asks for signatures and carries no key would refuse every configuration: fail here.
function(_ostrel_check_release_keys name file)
    get_filename_component(abs "${file}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
    if(NOT EXISTS "${abs}" OR IS_DIRECTORY "${abs}")
        message(FATAL_ERROR "${name}: the release keys file is not found: ${abs}")
    endif()
    file(STRINGS "${abs}" blocks REGEX "^-----BEGIN PUBLIC KEY-----")
    if(blocks STREQUAL "")
        message(FATAL_ERROR "${name}: the release keys file holds no public key "
            "(no -----BEGIN PUBLIC KEY----- block): ${abs}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${abs}")
endfunction()

# Writes <dir>/<symbol>.cpp: `<symbol>_data()` gives the bytes of <file> followed by one NUL byte and
# `<symbol>_size()` their count without the NUL; a null pointer and 0 for an empty <file>.
function(_ostrel_embed target dir symbol file)
    set(out "${dir}/${symbol}.cpp")
    if(file STREQUAL "")
        file(CONFIGURE OUTPUT "${out}" CONTENT
"#include <cstddef>
extern \"C\" const unsigned char* ${symbol}_data() { return nullptr; }
extern \"C\" std::size_t ${symbol}_size() { return 0; }
")
        return()
    endif()
    get_filename_component(abs "${file}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
    if(NOT EXISTS "${abs}")
        message(FATAL_ERROR "Embedded file not found: ${abs}")
    endif()
    file(CONFIGURE OUTPUT "${out}" CONTENT
"#include <cstddef>
asm(\".section .rodata\\n\"
    \".balign 16\\n\"
    \"${symbol}_bytes:\\n\"
    \".incbin \\\"${abs}\\\"\\n\"
    \"${symbol}_bytes_end:\\n\"
    \".byte 0\\n\"
    \".previous\\n\");
extern \"C\" const unsigned char ${symbol}_bytes[];
extern \"C\" const unsigned char ${symbol}_bytes_end[];
extern \"C\" const unsigned char* ${symbol}_data() { return ${symbol}_bytes; }
extern \"C\" std::size_t ${symbol}_size() { return static_cast<std::size_t>(${symbol}_bytes_end - ${symbol}_bytes); }
")
    set_source_files_properties("${out}" PROPERTIES OBJECT_DEPENDS "${abs}")
endfunction()

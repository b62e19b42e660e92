# ostrel_embed(<target> <symbol> <file>): compiles the bytes of <file>, followed by one NUL byte,
# into <target> as `extern "C" const unsigned char <symbol>[]` with its size (without the NUL) in
# `<symbol>_size`. An empty <file> defines the symbols with size 0 and a null pointer.
function(ostrel_embed target symbol file)
    set(out "${CMAKE_CURRENT_BINARY_DIR}/embed_${symbol}.cpp")
    if(file STREQUAL "")
        file(CONFIGURE OUTPUT "${out}" CONTENT
"#include <cstddef>
extern \"C\" const unsigned char* const ${symbol} = nullptr;
extern \"C\" const std::size_t ${symbol}_size = 0;
")
    else()
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
extern \"C\" const unsigned char* const ${symbol} = ${symbol}_bytes;
extern \"C\" const std::size_t ${symbol}_size = static_cast<std::size_t>(${symbol}_bytes_end - ${symbol}_bytes);
")
        set_source_files_properties("${out}" PROPERTIES OBJECT_DEPENDS "${abs}")
    endif()
    target_sources(${target} PRIVATE "${out}")
endfunction()

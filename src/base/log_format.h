#pragma once

#include <cstdarg>
#include <string>

// `format` filled in with `args` as printf does, with "%I64u" and "%I64d" for 64-bit integers. The format
// is the program's own and is kept as it is, line feeds included; the texts of %s and %c come from
// outside and are passed through PrintableText first, so that width and precision count escaped bytes.
std::string FormatLogMessage(const char* format, std::va_list args);

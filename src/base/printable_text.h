#pragma once

#include <string>
#include <string_view>

// `text` from outside the program (a server, a configuration, a command line) made safe to put on one
// line of the log or of a terminal: control characters (C0, DEL and C1) and bytes that are no UTF-8
// become "\r", "\n", "\t" or "\xHH"; every other character, Korean included, stays as it is.
std::string PrintableText(std::string_view text);

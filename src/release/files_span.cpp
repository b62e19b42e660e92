#include "release/files_span.h"

#include <string_view>

namespace {

constexpr std::string_view kOpen = "<Files";
constexpr std::string_view kClose = "</Files";

// Whether a tag named "Files" starts at `at` (and not "FilesList" or the like).
bool IsFilesTag(const std::string& text, std::size_t at, std::string_view tag) {
    if (text.compare(at, tag.size(), tag) != 0) {
        return false;
    }
    const std::size_t next = at + tag.size();
    return next < text.size() && std::string_view(" \t\r\n/>").find(text[next]) != std::string_view::npos;
}

} // namespace

std::optional<FilesSpan> FindFilesSpan(const std::string& text, std::string& error) {
    std::size_t count = 0;
    std::size_t begin = std::string::npos;
    for (std::size_t at = text.find(kOpen); at != std::string::npos; at = text.find(kOpen, at + 1)) {
        if (IsFilesTag(text, at, kOpen)) {
            begin = count++ == 0 ? at : begin;
        }
    }
    if (count != 1) {
        error = count == 0 ? "has no <Files> element" : "has " + std::to_string(count) + " <Files> elements, not one";
        return std::nullopt;
    }
    FilesSpan span;
    span.begin = begin;
    const std::size_t tagEnd = text.find('>', begin);
    if (tagEnd == std::string::npos) {
        error = "has a <Files> element that does not end";
        return std::nullopt;
    }
    if (text[tagEnd - 1] == '/') {
        span.end = tagEnd + 1;
    } else {
        std::size_t close = text.find(kClose, tagEnd);
        while (close != std::string::npos && !IsFilesTag(text, close, kClose)) {
            close = text.find(kClose, close + 1);
        }
        const std::size_t closeEnd = close == std::string::npos ? close : text.find('>', close);
        if (closeEnd == std::string::npos) {
            error = "has a <Files> element that does not end";
            return std::nullopt;
        }
        span.end = closeEnd + 1;
    }
    const std::size_t lineStart = text.find_last_not_of(" \t", begin == 0 ? 0 : begin - 1);
    const std::size_t indentStart = lineStart == std::string::npos || begin == 0 ? 0 : lineStart + 1;
    span.indent = text.substr(indentStart, begin - indentStart);
    return span;
}

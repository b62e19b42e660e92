#include "release/files_element.h"

namespace {

// The bytes a URL carries as they are (RFC 3986 "unreserved"), whatever the locale.
bool IsUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

} // namespace

std::string UrlPathOf(const std::string& relativePath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string path;
    for (const char c : relativePath) {
        if (c == '/' || IsUnreserved(c)) {
            path += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            path += '%';
            path += kHex[byte >> 4];
            path += kHex[byte & 0x0F];
        }
    }
    return path;
}

std::string XmlAttributeText(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string FilesElement(const std::vector<ListedFile>& files, const std::string& baseUrl,
                         const std::set<std::string>& installers, const std::string& indent) {
    const std::string base = baseUrl.ends_with('/') ? baseUrl : baseUrl + "/";
    std::string element = "<Files>\n";
    for (const ListedFile& file : files) {
        element += indent + "    <File Url=\"" + XmlAttributeText(base + UrlPathOf(file.relativePath)) + "\" ";
        if (installers.contains(file.relativePath)) {
            element += "executable=\"true\" autoexecute=\"true\" ";
        }
        element += "Sha256=\"" + file.sha256 + "\" />\n";
    }
    return element + indent + "</Files>";
}

#pragma once

#include <cstddef>
#include <string_view>

// The deepest element nesting a configuration may have: TinyXML parses each level with a recursive
// call, and a document nested deep enough overflows the stack.
constexpr std::size_t kMaxElementNesting = 256;

enum class XmlPreScan {
    Fits,
    // Elements nested deeper than the limit.
    TooDeep,
    // A UTF-8 character cut off by the end of the text: TinyXML would read past the end.
    CutCharacter,
    // The first declaration names its encoding through a character reference, so it cannot be told
    // how TinyXML will step through the rest.
    UnclearEncoding,
};

// Walks `text` the way TinyXML tokenises it, without recursion: comments, CDATA sections,
// declarations, other "<!" and "<?" markup, quoted attribute values, empty-element tags, end tags,
// and UTF-8 characters where TinyXML reads them whole. Where TinyXML would stop with an error the
// walk stops too, since nothing after that point is parsed.
XmlPreScan PreScanXml(std::string_view text, std::size_t maxNesting = kMaxElementNesting);

// A short English description of a refusal, for the log.
const char* DescribeXmlPreScan(XmlPreScan result);

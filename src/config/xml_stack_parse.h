#pragma once

#include "config/xml_pre_scan.h"

#include <cstddef>

class TiXmlDocument;
class TiXmlNode;

enum class XmlStackParse {
    // Parsed, well-formed or not: the document tells.
    Parsed,
    // Elements nested deeper than the limit; the document is left empty.
    TooDeep,
    // No thread with a stack that large could be started.
    NoStack,
};

// Parses `text` into `document` on a thread whose stack holds TinyXML's recursion for any text: it
// recurses once per nesting level, and every level opens at a '<' of its own. So the depth is bounded
// after the parse, whatever the pre-scan predicted; a tree deeper than `maxNesting` is removed on
// that thread too, since its removal recurses as deep.
XmlStackParse ParseXmlOnOwnStack(const char* text, TiXmlDocument& document,
                                 std::size_t maxNesting = kMaxElementNesting);

// The deepest nesting of elements below `node`, counted without recursion.
std::size_t ElementNesting(const TiXmlNode& node);

// A short English description of a refusal, for the log.
const char* DescribeXmlStackParse(XmlStackParse result);

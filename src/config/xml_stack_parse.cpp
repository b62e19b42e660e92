#include "config/xml_stack_parse.h"

#include <algorithm>
#include <pthread.h>
#include <string_view>
#include <tinyxml.h>

namespace {

// TinyXML's frames for one level take about 230 bytes; the rest of the parse needs little more.
constexpr std::size_t kStackPerLevel = 1024;
constexpr std::size_t kStackBase = 256 * 1024;

struct ParseWork {
    const char* text;
    TiXmlDocument* document;
    std::size_t maxNesting;
    XmlStackParse result;
};

void* Parse(void* argument) {
    auto& work = *static_cast<ParseWork*>(argument);
    work.document->Parse(work.text, nullptr, TIXML_DEFAULT_ENCODING);
    work.result = ElementNesting(*work.document) > work.maxNesting ? XmlStackParse::TooDeep : XmlStackParse::Parsed;
    if (work.result == XmlStackParse::TooDeep) {
        work.document->Clear();
    }
    return nullptr;
}

} // namespace

XmlStackParse ParseXmlOnOwnStack(const char* text, TiXmlDocument& document, std::size_t maxNesting) {
    const std::string_view whole(text);
    const auto levels = static_cast<std::size_t>(std::count(whole.begin(), whole.end(), '<'));
    ParseWork work{text, &document, maxNesting, XmlStackParse::NoStack};
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) {
        return XmlStackParse::NoStack;
    }
    pthread_t thread;
    const bool started = ::pthread_attr_setstacksize(&attributes, kStackBase + levels * kStackPerLevel) == 0 &&
                         ::pthread_create(&thread, &attributes, Parse, &work) == 0;
    ::pthread_attr_destroy(&attributes);
    if (started) {
        ::pthread_join(thread, nullptr);
    }
    return work.result;
}

std::size_t ElementNesting(const TiXmlNode& node) {
    // Only elements have children, so a node's depth below `node` is its element nesting.
    std::size_t depth = 0, deepest = 0;
    const TiXmlNode* at = node.FirstChild();
    while (at != nullptr) {
        if (at->ToElement() != nullptr) {
            deepest = std::max(deepest, depth + 1);
        }
        if (at->FirstChild() != nullptr) {
            at = at->FirstChild();
            ++depth;
            continue;
        }
        while (at != &node && at->NextSibling() == nullptr) {
            at = at->Parent();
            --depth;
        }
        at = at == &node ? nullptr : at->NextSibling();
    }
    return deepest;
}

const char* DescribeXmlStackParse(XmlStackParse result) {
    switch (result) {
    case XmlStackParse::TooDeep:
        return DescribeXmlPreScan(XmlPreScan::TooDeep);
    case XmlStackParse::NoStack:
        return "Not enough memory to parse the text.";
    default:
        return "";
    }
}

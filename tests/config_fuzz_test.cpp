#include "base/log.h"
#include "config/config_loader.h"
#include "config/xml_pre_scan.h"
#include "support/log_capture.h"
#include "support/message_recorder.h"
#include "support/random_damage.h"
#include "support/temp_dir.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <tinyxml.h>
#include <unistd.h>

namespace {

constexpr int kRounds = 4000;

// A copy of a text whose terminator is the last byte before an unreadable page, so that any read past
// the end stops the test at once.
class GuardedText {
public:
    explicit GuardedText(const std::string& text) {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        size_ = (text.size() + 1 + page - 1) / page * page + page;
        void* memory = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            throw std::bad_alloc();
        }
        memory_ = static_cast<char*>(memory);
        ::mprotect(memory_ + size_ - page, page, PROT_NONE);
        text_ = memory_ + size_ - page - text.size() - 1;
        std::memcpy(text_, text.c_str(), text.size() + 1);
    }
    ~GuardedText() { ::munmap(memory_, size_); }
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;

    const char* c_str() const { return text_; }

private:
    char* memory_ = nullptr;
    char* text_ = nullptr;
    std::size_t size_ = 0;
};

// The deepest element nesting in what TinyXML built, elements that failed half-way included.
std::size_t ElementDepth(const TiXmlNode& node) {
    std::size_t deepest = 0;
    for (const TiXmlNode* child = node.FirstChild(); child != nullptr; child = child->NextSibling()) {
        deepest = std::max(deepest, ElementDepth(*child));
    }
    return deepest + (node.ToElement() != nullptr ? 1 : 0);
}

// Pieces that change how the rest of a document is read.
const std::vector<std::string>& Markup() {
    static const std::vector<std::string> pieces = {"<",
                                                    ">",
                                                    "/",
                                                    "\"",
                                                    "'",
                                                    "=",
                                                    " ",
                                                    "<!--",
                                                    "-->",
                                                    "<![CDATA[",
                                                    "]]>",
                                                    "<?xml ",
                                                    "<?x ",
                                                    "?>",
                                                    "<!D [",
                                                    "]>",
                                                    "&",
                                                    "&#x41;",
                                                    "&#4",
                                                    "&#x;",
                                                    "&lt;",
                                                    "\xEF\xBB\xBF",
                                                    "\xEB",
                                                    "\xE0\"",
                                                    "\xF0<",
                                                    "\xC3",
                                                    "</Base>",
                                                    "<a>",
                                                    "</a>",
                                                    "</a >",
                                                    "</a\t>",
                                                    "</Base\r\n>",
                                                    "&#\"#;",
                                                    "&#'#;",
                                                    "&#x'x4;",
                                                    "&#<!--#;",
                                                    "<a/>",
                                                    "<a x='>'>",
                                                    "<_>",
                                                    "<1>",
                                                    "encoding=\"latin1\" ",
                                                    "encoding='UTF8' ",
                                                    "encoding=\"&#85;TF-8\" ",
                                                    "Visible=\"2\" "};
    return pieces;
}

std::string Damage(const std::string& valid, RandomDamage& random) {
    auto pick = [&random](std::size_t bound) { return random.Pick(bound); };
    std::string bytes = valid;
    switch (pick(6)) {
    case 0:
        random.FlipBits(bytes);
        break;
    case 1: // truncated, often inside a Korean font name or a tag
        bytes.resize(pick(bytes.size()));
        break;
    case 2: // a piece cut out
        bytes.erase(pick(bytes.size()), 1 + pick(200));
        break;
    case 3: // markup sown in
        for (std::size_t n = 1 + pick(8); n > 0; --n) {
            bytes.insert(pick(bytes.size() + 1), Markup()[pick(Markup().size())]);
        }
        break;
    case 4: { // deep nesting somewhere, closed or not, sometimes hidden in a comment or a value
        const std::size_t levels = 1 + pick(600);
        std::string nesting;
        for (std::size_t i = 0; i < levels; ++i) {
            nesting += pick(4) == 0 ? "<a x=\"1\">" : "<a>";
        }
        if (pick(2) == 0) {
            const char* const ends[] = {"</a>", "</a>", "</a>", "</a >", "</a\t>", "</a\n>"};
            for (std::size_t i = 0; i < levels; ++i) {
                nesting += ends[pick(6)];
            }
        }
        // Hidden from TinyXML, or behind a reference that runs on over a quote or a '<'.
        const char* const wrappers[][2] = {{"", ""},
                                           {"<!--", "-->"},
                                           {"<![CDATA[", "]]>"},
                                           {"<x v='", "'/>"},
                                           {"<x v=\"&#\"#;\">", "</x>"},
                                           {"<x v='&#x'x4;'>", "</x >"},
                                           {"&#<!--#;", ""}};
        const auto& wrapper = wrappers[pick(2) == 0 ? 0 : pick(7)];
        // Mostly between two tags, where the nesting is read as elements unless it is hidden.
        std::size_t at = pick(bytes.size() + 1);
        if (pick(4) != 0) {
            at = bytes.find('>', at);
            at = at == std::string::npos ? bytes.size() : at + 1;
        }
        bytes.insert(at, wrapper[0] + nesting + wrapper[1]);
        break;
    }
    default:
        random.OverwriteBytes(bytes, 32);
        break;
    }
    return bytes;
}

class ConfigFuzzTest : public ::testing::Test {
protected:
    ConfigFuzzTest() { SetLogEcho(false); }
    ~ConfigFuzzTest() override { SetLogEcho(true); }

    LogCapture log;
    MessageRecorder messages;
};

TEST_F(ConfigFuzzTest, DamagedConfigurationsNeitherCrashNorOverrunAndTheNestingCountIsTinyXmlsOwn) {
    const std::string valid = ReadWholeFile(OSTREL_SOURCE_DIR "/res/config.xml");
    RandomDamage random(20120822);
    int loaded = 0, refusedDeep = 0, refusedCut = 0, parsedDeep = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = Damage(valid, random);
        const GuardedText guarded(text);

        CConfigLoader config;
        const int result = config.LoadFromString(guarded.c_str());
        ASSERT_GE(result, CONFIG_OK) << "round " << round;
        ASSERT_LE(result, CONFIG_MISSING_ATTRIBUTE) << "round " << round;
        loaded += result == CONFIG_OK;

        const std::string_view seen(guarded.c_str()); // what the loader reads: up to the first NUL byte
        const XmlPreScan scan = PreScanXml(seen);
        refusedDeep += scan == XmlPreScan::TooDeep;
        refusedCut += scan == XmlPreScan::CutCharacter;
        if (scan != XmlPreScan::Fits) {
            ASSERT_EQ(result, CONFIG_PARSE_FAILED) << "round " << round;
        }
        if (scan == XmlPreScan::CutCharacter || scan == XmlPreScan::UnclearEncoding) {
            continue;
        }
        // The walk counts the nesting TinyXML reaches, no more and no less.
        TiXmlDocument document;
        document.Parse(guarded.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
        const std::size_t depth = ElementDepth(document);
        if (scan == XmlPreScan::TooDeep) {
            ASSERT_GT(depth, kMaxElementNesting) << "round " << round;
            continue;
        }
        ASSERT_LE(depth, kMaxElementNesting) << "round " << round;
        ASSERT_EQ(PreScanXml(seen, depth), XmlPreScan::Fits) << "round " << round << ", depth " << depth;
        if (depth > 0) {
            ASSERT_EQ(PreScanXml(seen, depth - 1), XmlPreScan::TooDeep) << "round " << round << ", depth " << depth;
        }
        parsedDeep += depth > 10;
    }
    // Enough of each kind for the rounds to have meant something.
    EXPECT_GT(loaded, kRounds / 10);
    EXPECT_GT(refusedDeep, kRounds / 50);
    EXPECT_GT(refusedCut, 2);
    EXPECT_GT(parsedDeep, kRounds / 50);
}

} // namespace

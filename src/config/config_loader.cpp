#include "config/config_loader.h"

#include "base/log.h"
#include "config/value_forms.h"
#include "config/xml_pre_scan.h"
#include "config/xml_stack_parse.h"
#include "net/sha256_digest.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <tinyxml.h>

namespace {

const char* const kSeparator = "================================================================";

struct NamedType {
    const char* name;
    int type;
};

constexpr NamedType kButtons[] = {{"Execution", CT_EXECUTION},
                                  {"Download", CT_DOWNLOAD},
                                  {"Stop", CT_STOP},
                                  {"Close", CT_CLOSE},
                                  {"Folder", CT_FOLDER}};
constexpr NamedType kProgresses[] = {{"FileDownloadRate", CT_FILE_DOWNLOAD_RATE},
                                     {"TotalDownloadRate", CT_TOTAL_DOWNLOAD_RATE}};
constexpr NamedType kSections[] = {
    {"FileName", ST_FILE_NAME},
    {"FileSize", ST_FILE_SIZE},
    {"FileRecvSize", ST_FILE_RECV_SIZE},
    {"TotalSize", ST_TOTAL_SIZE},
    {"TotalRecvSize", ST_TOTAL_RECV_SIZE},
    {"RecvCount", ST_RECV_COUNT},
    {"TotalCount", ST_TOTAL_COUNT},
    {"FileDownloadRate", ST_FILE_DOWNLOAD_RATE},
    {"TotalDownloadRate", ST_TOTAL_DOWNLOAD_RATE},
    {"ElapseTime", ST_ELAPSE_TIME},
    {"RemainTime", ST_REMAIN_TIME},
    {"Speed", ST_SPEED},
    {"TransState", ST_TRANS_STATE},
    {"DownloadPath", ST_DOWNLOAD_PATH},
    {"DiskFreeSpace", ST_DISK_FREE_SPACE},
};

template <std::size_t N> const NamedType* FindByName(const NamedType (&table)[N], const char* name) {
    for (const NamedType& entry : table) {
        if (std::strcmp(entry.name, name) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

// Reads the attributes of one element in order; the first missing required one is recorded with the
// element's name, for start-up to tell the player, and ends the reading.
class AttributeReader {
public:
    AttributeReader(const TiXmlElement& element, MissingAttribute& missing) : element_(element), missing_(missing) {}

    bool Required(const char* attribute, const char*& value) {
        value = element_.Attribute(attribute);
        if (value != nullptr) {
            return true;
        }
        missing_ = {element_.Value(), attribute};
        return false;
    }

    // A required "first,second" pair.
    bool Pair(const char* attribute, int& first, int& second) {
        const char* value;
        if (!Required(attribute, value)) {
            return false;
        }
        ParsePair(value, first, second);
        return true;
    }

    int Integer(const char* attribute) const {
        const char* value = element_.Attribute(attribute);
        return value != nullptr ? ParseInteger(value) : 0;
    }

    std::string Text(const char* attribute) const {
        const char* value = element_.Attribute(attribute);
        return value != nullptr ? value : "";
    }

    bool Flag(const char* attribute) const { return ParseFlag(element_.Attribute(attribute)); }

private:
    const TiXmlElement& element_;
    MissingAttribute& missing_;
};

// Where a control or section stands: Visible, Position and, for all but buttons, Size.
template <typename Record> bool ReadPlacement(AttributeReader& reader, Record& record, bool sized) {
    record.visible = reader.Integer("Visible");
    return reader.Pair("Position", record.x, record.y) && (!sized || reader.Pair("Size", record.width, record.height));
}

void DumpVisibleLine(const ControlInfo& c) {
    WriteLog("[DEBUG] Visible: [%d] Position: [%d,%d] Size: [%d,%d]", c.visible, c.x, c.y, c.width, c.height);
}

const char* TrueFalse(bool value) {
    return value ? "TRUE" : "FALSE";
}

// Parses `text` into `document`; false with the reason when it is refused or not well-formed. TinyXML
// only sees text it can parse without reading past the end, and it parses on a stack that its
// recursion cannot overflow: the pre-scan refuses deep text before any parse, the own stack stands
// where the pre-scan was mistaken.
bool ParseDocument(const char* text, TiXmlDocument& document, std::string& error) {
    if (const XmlPreScan scan = PreScanXml(text); scan != XmlPreScan::Fits) {
        error = DescribeXmlPreScan(scan);
        return false;
    }
    if (const XmlStackParse parse = ParseXmlOnOwnStack(text, document); parse != XmlStackParse::Parsed) {
        error = DescribeXmlStackParse(parse);
        return false;
    }
    if (document.Error()) {
        error = document.ErrorDesc();
        return false;
    }
    return true;
}

} // namespace

const ControlInfo* CConfigLoader::Control(int type) const {
    const auto it = controls.find(type);
    return it == controls.end() ? nullptr : it->second.get();
}

const SectionInfo* CConfigLoader::Section(int type) const {
    const auto it = sections.find(type);
    return it == sections.end() ? nullptr : it->second.get();
}

bool CConfigLoader::LoadConfigFile(const std::string& path, unsigned int& size, std::string& text) {
    if (path.empty()) {
        WriteLog("[%s][%d] Invalid config file path [%s]", "CConfigLoader::LoadConfigFile", __LINE__, path.c_str());
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 0xFFFFFFFFLL) {
        WriteLog("[%s][%d] Failed to get file information [%s].", "CConfigLoader::LoadConfigFile", __LINE__,
                 path.c_str());
        return false;
    }
    size = static_cast<unsigned int>(st.st_size);
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        WriteLog("[%s][%d] Failed to open file [%s].", "CConfigLoader::LoadConfigFile", __LINE__, path.c_str());
        return false;
    }
    std::string buffer(size, '\0');
    const std::size_t read = std::fread(buffer.data(), 1, buffer.size(), file);
    buffer.resize(read);
    text.assign(buffer.c_str());
    std::fclose(file);
    return true;
}

int CConfigLoader::Load(const std::string& path) {
    if (path.empty()) {
        WriteLog("[%s][%d] Invalid config file path [%s]", "CConfigLoader::Load", __LINE__, path.c_str());
        return CONFIG_EMPTY_PATH;
    }
    unsigned int size = 0;
    std::string text;
    if (!LoadConfigFile(path, size, text)) {
        WriteLog("[%s][%d] Failed to load config file [%s].", "CConfigLoader::Load", __LINE__, path.c_str());
        return CONFIG_READ_FAILED;
    }
    return LoadRead(path, text);
}

int CConfigLoader::LoadRead(const std::string& path, const std::string& text) {
    TiXmlDocument document;
    if (std::string error; !ParseDocument(text.c_str(), document, error)) {
        WriteLog("[ERROR][%s][%d] Failed to parse XML file. Error: [%s]", "CConfigLoader::Load", __LINE__,
                 error.c_str());
        return CONFIG_PARSE_FAILED;
    }
    WriteLog("[INFO][%s][%d] Successfully parsed XML file [%s].", "CConfigLoader::Load", __LINE__, path.c_str());
    return WalkDocument(document, "CConfigLoader::Load");
}

int CConfigLoader::LoadFromString(const char* text) {
    TiXmlDocument document;
    if (std::string error; !ParseDocument(text != nullptr ? text : "", document, error)) {
        WriteLog("[ERROR][%s][%d] Failed to parse XML file. Error: [%s]", "CConfigLoader::LoadFromString", __LINE__,
                 error.c_str());
        return CONFIG_PARSE_FAILED;
    }
    WriteLog("[INFO][%s][%d] Successfully parsed XML.", "CConfigLoader::LoadFromString", __LINE__);
    return WalkDocument(document, "CConfigLoader::LoadFromString");
}

int CConfigLoader::WalkDocument(const TiXmlDocument& document, const char* origin) {
    const TiXmlElement* root = document.RootElement();
    if (root == nullptr) {
        return CONFIG_OK;
    }
    const TiXmlNode* base = root->FirstChild("Base");
    if (base == nullptr) {
        WriteLog("[ERROR][%s][%d] Invalid configuration data: Base node not found.", origin, __LINE__);
        return CONFIG_NO_BASE;
    }
    if (const TiXmlElement* element = base->ToElement()) {
        if (const char* value = element->Attribute("Name")) {
            name = value;
        }
        const AttributeReader reader(*element, missingAttribute);
        version = reader.Integer("Version");
        url = reader.Text("Url");
        background = reader.Text("Background");
        ReadSkinDigest(*element, origin);
        ReadBaseCount(*element, "Retries", "retries", retries, origin);
        ReadBaseCount(*element, "MaxBytesPerSecond", "max bytes per second", maxBytesPerSecond, origin);
        ReadBaseCount(*element, "SurveyConnections", "survey connections", surveyConnections, origin);
        ReadConnections(*element, origin);
    }

    // Each container is looked for among the siblings after the last one found. A missing container
    // counts as empty, so the search for the next one starts where this one would have stood.
    const TiXmlNode* anchor = base;
    const auto nextContainer = [&](const char* containerName) -> const TiXmlNode* {
        const TiXmlNode* container = anchor->NextSibling(containerName);
        if (container == nullptr) {
            WriteLog("[INFO][%s][%d] No [%s] node: treated as empty.", origin, __LINE__, containerName);
            return nullptr;
        }
        anchor = container;
        return container;
    };

    if (const TiXmlNode* buttons = nextContainer("Buttons")) {
        for (const TiXmlNode* child = buttons->FirstChild(); child != nullptr; child = child->NextSibling()) {
            const NamedType* entry = FindByName(kButtons, child->Value());
            if (entry != nullptr && !ParseButton(child, entry->type)) {
                return CONFIG_MISSING_ATTRIBUTE;
            }
        }
    }
    if (const TiXmlNode* progresses = nextContainer("Progresses")) {
        for (const TiXmlNode* child = progresses->FirstChild(); child != nullptr; child = child->NextSibling()) {
            const NamedType* entry = FindByName(kProgresses, child->Value());
            if (entry != nullptr && !ParseProgress(child, entry->type)) {
                return CONFIG_MISSING_ATTRIBUTE;
            }
        }
    }
    if (const TiXmlNode* sectionsNode = nextContainer("Sections")) {
        for (const TiXmlNode* child = sectionsNode->FirstChild(); child != nullptr; child = child->NextSibling()) {
            const NamedType* entry = FindByName(kSections, child->Value());
            if (entry != nullptr && !ParseSection(child, entry->type)) {
                return CONFIG_MISSING_ATTRIBUTE;
            }
        }
    }
    if (const TiXmlNode* listboxes = anchor->NextSibling("Listboxes")) {
        anchor = listboxes;
        for (const TiXmlNode* child = listboxes->FirstChild("FileList"); child != nullptr;
             child = child->NextSibling("FileList")) {
            if (!ParseListbox(child)) {
                return CONFIG_MISSING_ATTRIBUTE;
            }
        }
    }
    if (const TiXmlNode* filesNode = anchor->NextSibling("Files")) {
        for (const TiXmlNode* child = filesNode->FirstChild("File"); child != nullptr;
             child = child->NextSibling("File")) {
            ParseFile(child);
        }
    }
    return CONFIG_OK;
}

void CConfigLoader::ReadBaseCount(const TiXmlElement& base, const char* attribute, const char* dumpName, int& count,
                                  const char* origin) {
    const char* value = base.Attribute(attribute);
    if (value == nullptr) {
        return;
    }
    if (!ParseCount(value, count)) {
        WriteLog("[WARNING][%s][%d] Base %s [%s] is not a whole number of 0 or more: 0 is used.", origin, __LINE__,
                 attribute, value);
        count = 0;
    }
    WriteLog(kSeparator);
    WriteLog("[DEBUG] Base %s: [%d]", dumpName, count);
    WriteLog("%s\n", kSeparator);
}

void CConfigLoader::ReadConnections(const TiXmlElement& base, const char* origin) {
    const char* value = base.Attribute("Connections");
    if (value == nullptr) {
        return;
    }
    if (!ParseCount(value, connections) || connections < 1 || connections > kMaxConnections) {
        WriteLog("[WARNING][%s][%d] Base Connections [%s] is not a whole number from 1 to %d: 1 is used.", origin,
                 __LINE__, value, kMaxConnections);
        connections = 1;
    }
    WriteLog(kSeparator);
    WriteLog("[DEBUG] Base %s: [%d]", "connections", connections);
    WriteLog("%s\n", kSeparator);
}

void CConfigLoader::ReadSkinDigest(const TiXmlElement& base, const char* origin) {
    const char* value = base.Attribute("SkinSha256");
    if (value == nullptr) {
        return;
    }
    if (const std::optional<Sha256Bytes> digest = ParseSha256(value)) {
        skinSha256 = Sha256Hex(*digest);
    } else {
        WriteLog("[WARNING][%s][%d] Base SkinSha256 [%s] is not 64 hexadecimal digits: the skin archive has no hash.",
                 origin, __LINE__, value);
    }
}

bool CConfigLoader::ParseButton(const TiXmlNode* node, int type) {
    const TiXmlElement* element = node->ToElement();
    if (element == nullptr) {
        return true;
    }
    auto record = std::make_unique<ControlInfo>();
    record->type = type;
    AttributeReader reader(*element, missingAttribute);
    const char *normal, *press, *over, *disable;
    if (!ReadPlacement(reader, *record, false) || !reader.Required("Normal", normal) ||
        !reader.Required("Press", press) || !reader.Required("Over", over) || !reader.Required("Disable", disable)) {
        return false;
    }
    record->normalImage = normal;
    record->pressImage = press;
    record->overImage = over;
    record->disableImage = disable;

    WriteLog(kSeparator);
    WriteLog("[DEBUG] Control (Button) Info Type: [%d]", record->type);
    DumpVisibleLine(*record);
    WriteLog("[DEBUG] Normal image: [%s]", record->normalImage.c_str());
    WriteLog("[DEBUG] Pressed image: [%s]", record->pressImage.c_str());
    WriteLog("[DEBUG] Over image: [%s]", record->overImage.c_str());
    WriteLog("[DEBUG] Disabled image: [%s]", record->disableImage.c_str());
    WriteLog("%s\n", kSeparator);
    controls[type] = std::move(record);
    return true;
}

bool CConfigLoader::ParseProgress(const TiXmlNode* node, int type) {
    const TiXmlElement* element = node->ToElement();
    if (element == nullptr) {
        return true;
    }
    auto record = std::make_unique<ControlInfo>();
    record->type = type;
    AttributeReader reader(*element, missingAttribute);
    const char* image;
    if (!ReadPlacement(reader, *record, true) || !reader.Required("Image", image)) {
        return false;
    }
    record->image = image;

    WriteLog(kSeparator);
    WriteLog("[DEBUG] Control (Progress) Info Type: [%d]", record->type);
    DumpVisibleLine(*record);
    WriteLog("[DEBUG] Image: [%s]", record->image.c_str());
    WriteLog("%s\n", kSeparator);
    controls[type] = std::move(record);
    return true;
}

bool CConfigLoader::ParseSection(const TiXmlNode* node, int type) {
    const TiXmlElement* element = node->ToElement();
    if (element == nullptr) {
        return true;
    }
    auto record = std::make_unique<SectionInfo>();
    record->type = type;
    AttributeReader reader(*element, missingAttribute);
    const char *colour, *fontName, *fontSize;
    if (!ReadPlacement(reader, *record, true) || !reader.Required("Color", colour)) {
        return false;
    }
    ParseColour(colour, record->colorR, record->colorG, record->colorB);
    if (!reader.Required("FontName", fontName)) {
        return false;
    }
    record->fontName = fontName; // UTF-8 is this platform's narrow text: nothing to convert
    if (!reader.Required("FontSize", fontSize)) {
        return false;
    }
    record->fontSize = ParseInteger(fontSize);
    record->align = reader.Integer("Align");
    record->bold = reader.Integer("Bold");
    record->underline = reader.Integer("UnderLine");
    record->italic = reader.Integer("Italic");

    WriteLog(kSeparator);
    WriteLog("[DEBUG] Section Info Type: [%d]", record->type);
    WriteLog("[DEBUG] Visible: [%d] Position: [%d,%d] Size: [%d,%d], Color: [%d,%d,%d]", record->visible, record->x,
             record->y, record->width, record->height, record->colorR, record->colorG, record->colorB);
    WriteLog("[DEBUG] Font name: [%s] size: [%d] align: [%d] bold: [%d] underline: [%d] italic: [%d]",
             record->fontName.c_str(), record->fontSize, record->align, record->bold, record->underline,
             record->italic);
    WriteLog("%s\n", kSeparator);
    sections[type] = std::move(record);
    return true;
}

bool CConfigLoader::ParseListbox(const TiXmlNode* node) {
    const TiXmlElement* element = node->ToElement();
    if (element == nullptr) {
        return true;
    }
    auto record = std::make_unique<ControlInfo>();
    record->type = CT_FILE_LIST;
    AttributeReader reader(*element, missingAttribute);
    if (!ReadPlacement(reader, *record, true)) {
        return false;
    }
    record->checked = reader.Integer("Checked");

    WriteLog(kSeparator);
    WriteLog("[DEBUG] Control (Listbox) Info Type: [%d]", record->type);
    DumpVisibleLine(*record);
    WriteLog("%s\n", kSeparator);
    controls[CT_FILE_LIST] = std::move(record);
    return true;
}

void CConfigLoader::ParseFile(const TiXmlNode* node) {
    const TiXmlElement* element = node->ToElement();
    if (element == nullptr) {
        return;
    }
    auto record = std::make_unique<FileInfo>();
    const AttributeReader reader(*element, missingAttribute);
    record->url = reader.Text("Url");
    record->autoClose = reader.Flag("autoclose");
    record->autoExecute = reader.Flag("autoexecute");
    record->executable = reader.Flag("executable");
    record->waitExecute = reader.Flag("waitexecute");
    if (const char* value = element->Attribute("Sha256")) {
        if (const std::optional<Sha256Bytes> digest = ParseSha256(value)) {
            record->sha256 = Sha256Hex(*digest);
        } else {
            // Optional, so no message box: the file is still fetched, only without the check.
            WriteLog("[WARNING][%s][%d] Sha256 [%s] of file [%s] is not 64 hexadecimal digits: the file has no hash.",
                     "CConfigLoader::ParseFile", __LINE__, value, record->url.c_str());
        }
    }

    WriteLog(kSeparator);
    WriteLog("[DEBUG] File URL: [%s]", record->url.c_str());
    WriteLog("[DEBUG] File executable: [%s]", TrueFalse(record->executable));
    WriteLog("[DEBUG] File waitexecute: [%s]", TrueFalse(record->waitExecute));
    if (!record->sha256.empty()) {
        WriteLog("[DEBUG] File sha256: [%s]", record->sha256.c_str());
    }
    for (const TiXmlElement* mirror = element->FirstChildElement("Mirror"); mirror != nullptr;
         mirror = mirror->NextSiblingElement("Mirror")) {
        if (const char* mirrorUrl = mirror->Attribute("Url"); mirrorUrl != nullptr && *mirrorUrl != '\0') {
            record->mirrors.emplace_back(mirrorUrl);
            WriteLog("[DEBUG] File mirror: [%s]", mirrorUrl);
        }
    }
    WriteLog("%s\n", kSeparator);
    files.push_back(std::move(record));
}

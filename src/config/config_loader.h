#pragma once

#include "config/config_records.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class TiXmlDocument;
class TiXmlElement;
class TiXmlNode;

// Results of the loader; start-up adds CONFIG_FETCH_FAILED.
enum ConfigResult : int {
    CONFIG_OK = 0,
    CONFIG_EMPTY_PATH = 1,
    CONFIG_READ_FAILED = 2,
    CONFIG_PARSE_FAILED = 3,
    CONFIG_NO_BASE = 4,
    CONFIG_MISSING_ATTRIBUTE = 5,
    CONFIG_FETCH_FAILED = 6,
    CONFIG_NOT_TRUSTED = 7, // start-up: its signature, or a digest a signed one must give, is missing or wrong
};

// The first required attribute a configuration lacks, and the element that lacks it.
struct MissingAttribute {
    std::string element;
    std::string attribute;
};

// Parses the configuration document into plain records. Filled once at start-up, read afterwards.
class CConfigLoader {
public:
    int version = 0;
    std::string name;
    std::string url;
    std::string background;
    std::string skinSha256;    // Base SkinSha256 of the archive at `url`, lowercase hex; empty: none (or malformed)
    int retries = 0;           // Base Retries: further attempts of a file transfer that failed on a passing fault
    int maxBytesPerSecond = 0; // Base MaxBytesPerSecond: the speed limit unless the player chose one; 0: none
    int surveyConnections = 8; // Base SurveyConnections: size requests under way at once (the launcher bounds it)
    int connections = 4;       // Base Connections: files transferred at the same time, 1 to kMaxConnections
    static constexpr int kMaxConnections = 16;
    std::map<int, std::unique_ptr<ControlInfo>> controls;
    std::map<int, std::unique_ptr<SectionInfo>> sections;
    std::vector<std::unique_ptr<FileInfo>> files;
    MissingAttribute missingAttribute; // what a load that returned CONFIG_MISSING_ATTRIBUTE stopped on

    int Load(const std::string& path);
    // The configuration read from `path` earlier as `text` (whose bytes were checked meanwhile), as Load
    // would take it.
    int LoadRead(const std::string& path, const std::string& text);
    int LoadFromString(const char* text);
    bool LoadConfigFile(const std::string& path, unsigned int& size, std::string& text);

    // The record stored under a type number, or nullptr.
    const ControlInfo* Control(int type) const;
    const SectionInfo* Section(int type) const;

private:
    int WalkDocument(const TiXmlDocument& document, const char* origin);
    // Base's Retries; its dump and warning lines are written only when the attribute is there, so that a
    // configuration without it logs what it always did.
    // An optional count of Base: a value that is no count is a warning and reads as 0.
    void ReadBaseCount(const TiXmlElement& base, const char* attribute, const char* dumpName, int& count,
                       const char* origin);
    // Base's Connections; a value out of its bounds is a warning and reads as 1, one file at a time.
    void ReadConnections(const TiXmlElement& base, const char* origin);
    // Base's SkinSha256; a malformed one is a warning and reads as none.
    void ReadSkinDigest(const TiXmlElement& base, const char* origin);
    bool ParseButton(const TiXmlNode* node, int type);
    bool ParseProgress(const TiXmlNode* node, int type);
    bool ParseSection(const TiXmlNode* node, int type);
    bool ParseListbox(const TiXmlNode* node);
    void ParseFile(const TiXmlNode* node);
};

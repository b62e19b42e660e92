#include "app/config_signature.h"

#include "base/log.h"
#include "res/embedded.h"

namespace {

const char* const kOrigin = "COstrelApp::LoadConfiguration";

} // namespace

std::optional<std::vector<ReleaseKey>> BuildReleaseKeys() {
    static const std::optional<std::vector<ReleaseKey>> keys = []() -> std::optional<std::vector<ReleaseKey>> {
        const EmbeddedBytes pem = EmbeddedReleaseKeys();
        if (!pem.present()) {
            return std::nullopt;
        }
        std::string error;
        std::optional<std::vector<ReleaseKey>> parsed =
            ParseReleaseKeys({reinterpret_cast<const char*>(pem.data), pem.size}, error);
        if (!parsed) {
            WriteLog("[ERROR][%s][%d] The release keys of this build are unusable (%s): every configuration from "
                     "outside the program is refused.",
                     kOrigin, __LINE__, error.c_str());
            return std::vector<ReleaseKey>{};
        }
        return parsed;
    }();
    return keys;
}

bool AcceptSignature(const std::string& name, const std::string& text, const std::optional<std::string>& signatureFile,
                     const std::vector<ReleaseKey>& keys) {
    const std::string signatureName = name + ".sig";
    if (!signatureFile) {
        WriteLog("[ERROR][%s][%d] Configuration [%s] refused: its signature [%s] is missing.", kOrigin, __LINE__,
                 name.c_str(), signatureName.c_str());
        return false;
    }
    const SignatureCheck check = VerifyRelease(text, *signatureFile, keys);
    switch (check.verdict) {
    case SignatureVerdict::Good:
        WriteLog("[INFO][%s][%d] Configuration [%s] is signed by release key [%s].", kOrigin, __LINE__, name.c_str(),
                 check.fingerprint.c_str());
        return true;
    case SignatureVerdict::Malformed:
        WriteLog("[ERROR][%s][%d] Configuration [%s] refused: its signature [%s] is malformed.", kOrigin, __LINE__,
                 name.c_str(), signatureName.c_str());
        return false;
    case SignatureVerdict::Bad:
        break;
    }
    WriteLog("[ERROR][%s][%d] Configuration [%s] refused: its signature [%s] was made by none of this build's %zu "
             "keys.",
             kOrigin, __LINE__, name.c_str(), signatureName.c_str(), keys.size());
    return false;
}

bool PinsEveryStartedFile(const std::string& name, const CConfigLoader& config) {
    for (const auto& file : config.files) {
        if ((file->executable || file->autoExecute) && file->sha256.empty()) {
            WriteLog("[ERROR][%s][%d] Signed configuration [%s] refused: File [%s] may be started but has no "
                     "Sha256.",
                     kOrigin, __LINE__, name.c_str(), file->url.c_str());
            return false;
        }
    }
    if (!config.url.empty() && config.skinSha256.empty()) {
        WriteLog("[ERROR][%s][%d] Signed configuration [%s] refused: its skin archive [%s] (Base Url) has no "
                 "SkinSha256.",
                 kOrigin, __LINE__, name.c_str(), config.url.c_str());
        return false;
    }
    return true;
}

std::string SignatureVersionText(const std::optional<std::vector<ReleaseKey>>& keys) {
    if (!keys) {
        return "signed configuration: not required\n";
    }
    std::string text = "signed configuration: required\n";
    for (const ReleaseKey& key : *keys) {
        text += "release key: " + key.fingerprint + "\n";
    }
    return text;
}

#include "release/release_commands.h"

#include "base/printable_text.h"
#include "net/release_signature.h"
#include "release/file_listing.h"
#include "release/files_element.h"
#include "release/files_span.h"
#include "release/release_file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <unistd.h>

namespace {

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "ostrel-release: %s\n", PrintableText(message).c_str());
    return status;
}

// The launcher names a local file after the last part of its URL: two files of one name in different
// folders would overwrite each other in the player's folder. The first such pair, empty when none.
std::string SameLocalName(const std::vector<ListedFile>& files) {
    std::map<std::string, std::string> byName;
    for (const ListedFile& file : files) {
        const std::string name = UrlPathOf(file.relativePath.substr(file.relativePath.rfind('/') + 1));
        if (const auto [first, added] = byName.emplace(name, file.relativePath); !added) {
            return first->second + " and " + file.relativePath + " would both be saved as " + name;
        }
    }
    return {};
}

// The configuration put --into and its signature are served beside the files, but are none of them.
void LeaveOutConfiguration(std::vector<ListedFile>& files, const std::string& folder, const std::string& config) {
    const std::string root = folder.ends_with('/') ? folder : folder + "/";
    std::erase_if(files, [&](const ListedFile& file) {
        std::error_code unknown;
        return std::filesystem::equivalent(root + file.relativePath, config, unknown) ||
               std::filesystem::equivalent(root + file.relativePath, config + ".sig", unknown);
    });
}

} // namespace

int RunKeygen(const ReleaseArguments& args) {
    const std::string publicPath = args.path + ".pub";
    std::string error;
    const auto pair = MakeReleaseKeyPair(error);
    const auto keys = pair ? ParseReleaseKeys(pair->publicPem, error) : std::nullopt;
    if (!keys) {
        return Fail(kReleaseExitFailed, error);
    }
    for (const std::string& path : {args.path, publicPath}) {
        if (::access(path.c_str(), F_OK) == 0) {
            return Fail(kReleaseExitFailed, path + " exists: a key is never overwritten");
        }
    }
    if (const int failure = CreateFileExclusively(args.path, pair->privatePem, 0600); failure != 0) {
        return Fail(kReleaseExitFailed, failure == EEXIST
                                            ? args.path + " exists: a key is never overwritten"
                                            : "cannot write " + args.path + ": " + std::strerror(failure));
    }
    if (const int failure = CreateFileExclusively(publicPath, pair->publicPem, 0644); failure != 0) {
        ::unlink(args.path.c_str()); // a private key without its public half would only be lost
        return Fail(kReleaseExitFailed, "cannot write " + publicPath + ": " + std::strerror(failure));
    }
    std::printf("private key %s, public key %s, fingerprint %s\n", PrintableText(args.path).c_str(),
                PrintableText(publicPath).c_str(), keys->front().fingerprint.c_str());
    return kReleaseExitDone;
}

int RunFiles(const ReleaseArguments& args) {
    std::string error;
    auto files = ListReleaseFiles(args.path, error);
    if (!files) {
        return Fail(kReleaseExitFailed, error);
    }
    if (!args.into.empty()) {
        LeaveOutConfiguration(*files, args.path, args.into);
    }
    std::set<std::string> installers;
    for (const std::string& installer : args.installers) {
        const std::string name = std::filesystem::path(installer).lexically_normal().generic_string();
        const auto listed = std::find_if(files->begin(), files->end(),
                                         [&](const ListedFile& file) { return file.relativePath == name; });
        if (listed == files->end()) {
            return Fail(kReleaseExitUsage, "--installer " + installer + " names no file below " + args.path);
        }
        installers.insert(name);
    }
    if (const std::string clash = SameLocalName(*files); !clash.empty()) {
        return Fail(kReleaseExitUsage, clash + " in the player's folder");
    }
    if (args.into.empty()) {
        std::printf("%s\n", FilesElement(*files, args.baseUrl, installers, "").c_str());
        return kReleaseExitDone;
    }
    const auto config = ReadFileBytes(args.into, error);
    if (!config) {
        return Fail(kReleaseExitFailed, error);
    }
    const auto span = FindFilesSpan(*config, error);
    if (!span) {
        return Fail(kReleaseExitUsage, args.into + " " + error);
    }
    const std::string replaced = config->substr(0, span->begin) +
                                 FilesElement(*files, args.baseUrl, installers, span->indent) +
                                 config->substr(span->end);
    return WriteFileAtomically(args.into, replaced, error) ? kReleaseExitDone : Fail(kReleaseExitFailed, error);
}

int RunSign(const ReleaseArguments& args) {
    std::string error;
    const auto config = ReadFileBytes(args.path, error);
    const auto key = config ? ReadFileBytes(args.privateKey, error) : std::nullopt;
    if (!key) {
        return Fail(kReleaseExitFailed, error);
    }
    const auto signature = SignRelease(*config, *key, error);
    if (!signature) {
        return Fail(kReleaseExitFailed, args.privateKey + ": " + error);
    }
    return WriteFileAtomically(args.path + ".sig", *signature, error) ? kReleaseExitDone
                                                                      : Fail(kReleaseExitFailed, error);
}

int RunVerify(const ReleaseArguments& args) {
    const std::string signaturePath = args.path + ".sig";
    std::string error;
    const auto pem = ReadFileBytes(args.publicKey, error);
    if (!pem) {
        return Fail(kReleaseExitFailed, error);
    }
    const auto keys = ParseReleaseKeys(*pem, error);
    if (!keys) {
        return Fail(kReleaseExitFailed, args.publicKey + ": " + error);
    }
    const auto config = ReadFileBytes(args.path, error);
    if (!config) {
        return Fail(kReleaseExitFailed, error);
    }
    if (::access(signaturePath.c_str(), F_OK) != 0 && errno == ENOENT) {
        return Fail(kReleaseExitFailed, "no signature: " + signaturePath + " is missing");
    }
    const auto signature = ReadFileBytes(signaturePath, error);
    if (!signature) {
        return Fail(kReleaseExitFailed, error);
    }
    const SignatureCheck check = VerifyRelease(*config, *signature, *keys);
    switch (check.verdict) {
    case SignatureVerdict::Good:
        std::printf("good signature by key %s\n", check.fingerprint.c_str());
        return kReleaseExitDone;
    case SignatureVerdict::Malformed:
        return Fail(kReleaseExitFailed,
                    "malformed signature: " + signaturePath + " is not one base64 line of 64 bytes");
    case SignatureVerdict::Bad:
        break;
    }
    return Fail(kReleaseExitFailed, "bad signature: " + signaturePath + " was not made by this key, or " + args.path +
                                        " changed since it was signed");
}

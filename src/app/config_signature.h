#pragma once

#include "config/config_loader.h"
#include "net/release_signature.h"

#include <optional>
#include <string>
#include <vector>

// The keys this build asks a configuration from outside the program to be signed with; nothing when it
// asks for none. When what the build carries is no Ed25519 key there is no key, and every signature is
// refused.
std::optional<std::vector<ReleaseKey>> BuildReleaseKeys();

// Whether `text`, the configuration read from `name`, is signed by one of `keys`; `signatureFile` is the
// text of `name`.sig, nothing when there is none. Logs why not, or the key that signed it.
bool AcceptSignature(const std::string& name, const std::string& text, const std::optional<std::string>& signatureFile,
                     const std::vector<ReleaseKey>& keys);

// Whether a signed configuration pins the bytes of everything the launcher may start or unpack: a
// Sha256 for every File that is executable or autoexecute, a SkinSha256 for an archive at Base Url.
// Logs the first that lacks one.
bool PinsEveryStartedFile(const std::string& name, const CConfigLoader& config);

// The lines of --version about signatures: whether the build requires them, and each key's fingerprint.
std::string SignatureVersionText(const std::optional<std::vector<ReleaseKey>>& keys);

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Ed25519 signatures a game service makes over its configuration, and their checks. A signature file
// is one line: the 64 signature bytes in base64.

// A public key a build trusts: its PEM text and a fingerprint that names it in logs and --version
// (SHA-256 of the 32 raw key bytes, lower-case hex).
struct ReleaseKey {
    std::string pem;
    std::string fingerprint;
};

// Every Ed25519 public key in `pemText` (one or more "PUBLIC KEY" blocks); `error` says why when none
// or a block is not such a key.
std::optional<std::vector<ReleaseKey>> ParseReleaseKeys(std::string_view pemText, std::string& error);

enum class SignatureVerdict {
    Good,      // one of the keys made it over these very bytes
    Malformed, // the signature file is not one base64 line of 64 bytes
    Bad,       // no key verifies it: another key made it, or the bytes changed
};

struct SignatureCheck {
    SignatureVerdict verdict = SignatureVerdict::Bad;
    std::string fingerprint; // of the key that made a good one
};

SignatureCheck VerifyRelease(std::string_view data, std::string_view signatureFile,
                             const std::vector<ReleaseKey>& keys);

// The service's side. A new key pair: the private key and the public key, each PEM.
struct ReleaseKeyPair {
    std::string privatePem;
    std::string publicPem;
};
std::optional<ReleaseKeyPair> MakeReleaseKeyPair(std::string& error);
// The signature file's text for `data` under the private key in `privatePem`.
std::optional<std::string> SignRelease(std::string_view data, std::string_view privatePem, std::string& error);

#include "net/release_signature.h"

#include "net/sha256_digest.h"

#include <array>
#include <cstdio>
#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {

constexpr std::size_t kSignatureBytes = 64;
constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::string_view kBeginPublicKey = "-----BEGIN PUBLIC KEY-----";
constexpr std::string_view kEndPublicKey = "-----END PUBLIC KEY-----";

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Bio = std::unique_ptr<BIO, BioFree>;
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

Bio ReadOnlyBio(std::string_view text) {
    return Bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool IsEd25519(const Key& key) {
    return key != nullptr && EVP_PKEY_get_id(key.get()) == EVP_PKEY_ED25519;
}

std::string Fingerprint(EVP_PKEY* key) {
    std::array<unsigned char, kPublicKeyBytes> raw{};
    std::size_t size = raw.size();
    if (EVP_PKEY_get_raw_public_key(key, raw.data(), &size) != 1 || size != raw.size()) {
        return {};
    }
    Sha256Digest digest;
    digest.Update(raw.data(), raw.size());
    return Sha256Hex(digest.Final());
}

Key PublicKeyOf(const std::string& pem) {
    const Bio bio = ReadOnlyBio(pem);
    return Key(bio != nullptr ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

// The 64 bytes of a signature file: one base64 line, spaces and line ends around it allowed.
std::optional<std::array<unsigned char, kSignatureBytes>> DecodeSignature(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    // 64 bytes are 88 base64 characters, the last two "=".
    if (text.size() != 88 || text.substr(86) != "==") {
        return std::nullopt;
    }
    std::array<unsigned char, 66> decoded{};
    const std::string line(text);
    if (EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(line.data()),
                        static_cast<int>(line.size())) != 66) {
        return std::nullopt;
    }
    std::array<unsigned char, kSignatureBytes> signature{};
    std::copy(decoded.begin(), decoded.begin() + kSignatureBytes, signature.begin());
    return signature;
}

} // namespace

std::optional<std::vector<ReleaseKey>> ParseReleaseKeys(std::string_view pemText, std::string& error) {
    std::vector<ReleaseKey> keys;
    for (std::size_t at = pemText.find(kBeginPublicKey); at != std::string_view::npos;
         at = pemText.find(kBeginPublicKey, at)) {
        const std::size_t end = pemText.find(kEndPublicKey, at);
        if (end == std::string_view::npos) {
            error = "public key " + std::to_string(keys.size() + 1) + " has no end line";
            return std::nullopt;
        }
        const std::string block(pemText.substr(at, end + kEndPublicKey.size() - at));
        const Key key = PublicKeyOf(block);
        if (!IsEd25519(key)) {
            error = "public key " + std::to_string(keys.size() + 1) + " is not an Ed25519 key";
            return std::nullopt;
        }
        keys.push_back({block + "\n", Fingerprint(key.get())});
        at = end;
    }
    if (keys.empty()) {
        error = "no public key (\"" + std::string(kBeginPublicKey) + "\")";
        return std::nullopt;
    }
    return keys;
}

SignatureCheck VerifyRelease(std::string_view data, std::string_view signatureFile,
                             const std::vector<ReleaseKey>& keys) {
    const auto signature = DecodeSignature(signatureFile);
    if (!signature) {
        return {SignatureVerdict::Malformed, {}};
    }
    for (const ReleaseKey& release : keys) {
        const Key key = PublicKeyOf(release.pem);
        const MdContext context(EVP_MD_CTX_new());
        if (!IsEd25519(key) || context == nullptr ||
            EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
            continue;
        }
        if (EVP_DigestVerify(context.get(), signature->data(), signature->size(),
                             reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1) {
            return {SignatureVerdict::Good, release.fingerprint};
        }
    }
    return {SignatureVerdict::Bad, {}};
}

std::optional<ReleaseKeyPair> MakeReleaseKeyPair(std::string& error) {
    const Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    const Bio privateBio(BIO_new(BIO_s_mem()));
    const Bio publicBio(BIO_new(BIO_s_mem()));
    if (key == nullptr || privateBio == nullptr || publicBio == nullptr ||
        PEM_write_bio_PrivateKey(privateBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_PUBKEY(publicBio.get(), key.get()) != 1) {
        error = "OpenSSL could not make an Ed25519 key";
        return std::nullopt;
    }
    return ReleaseKeyPair{BioText(privateBio.get()), BioText(publicBio.get())};
}

std::optional<std::string> SignRelease(std::string_view data, std::string_view privatePem, std::string& error) {
    const Bio bio = ReadOnlyBio(privatePem);
    const Key key(bio != nullptr ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!IsEd25519(key)) {
        error = "not an Ed25519 private key";
        return std::nullopt;
    }
    const MdContext context(EVP_MD_CTX_new());
    std::array<unsigned char, kSignatureBytes> signature{};
    std::size_t size = signature.size();
    if (context == nullptr || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &size, reinterpret_cast<const unsigned char*>(data.data()),
                       data.size()) != 1 ||
        size != signature.size()) {
        error = "OpenSSL could not sign";
        return std::nullopt;
    }
    std::array<unsigned char, 89> line{};
    EVP_EncodeBlock(line.data(), signature.data(), static_cast<int>(signature.size()));
    return std::string(reinterpret_cast<const char*>(line.data()), 88) + "\n";
}

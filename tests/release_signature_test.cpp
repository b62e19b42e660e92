#include "net/release_signature.h"

#include <gtest/gtest.h>

namespace {

struct KeyPair {
    ReleaseKeyPair pem;
    ReleaseKey key;
};

KeyPair MakeKey() {
    std::string error;
    const auto pair = MakeReleaseKeyPair(error);
    EXPECT_TRUE(pair) << error;
    const auto keys = ParseReleaseKeys(pair->publicPem, error);
    EXPECT_TRUE(keys && keys->size() == 1) << error;
    return {*pair, keys->front()};
}

std::string Sign(const std::string& data, const KeyPair& signer) {
    std::string error;
    const auto signature = SignRelease(data, signer.pem.privatePem, error);
    EXPECT_TRUE(signature) << error;
    return signature.value_or("");
}

TEST(ReleaseSignatureTest, OnlyTheSignedBytesUnderATrustedKeyPass) {
    const KeyPair current = MakeKey();
    const KeyPair rolledOver = MakeKey();
    const KeyPair stranger = MakeKey();
    const std::string config = "<C><Base Name=\"g\"/></C>\n";
    std::string changed = config;
    changed[3] = 'b';
    const std::string good = Sign(config, current);
    std::string flipped = good;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';

    const struct {
        const char* name;
        std::string data;
        std::string signature;
        std::vector<ReleaseKey> keys;
        SignatureVerdict verdict;
        std::string fingerprint;
    } cases[] = {
        {"signed and good", config, good, {current.key}, SignatureVerdict::Good, current.key.fingerprint},
        {"old key still compiled in",
         config,
         Sign(config, rolledOver),
         {current.key, rolledOver.key},
         SignatureVerdict::Good,
         rolledOver.key.fingerprint},
        {"another key's", config, Sign(config, stranger), {current.key, rolledOver.key}, SignatureVerdict::Bad, ""},
        {"one byte of the file changed", changed, good, {current.key}, SignatureVerdict::Bad, ""},
        {"one character of the signature changed", config, flipped, {current.key}, SignatureVerdict::Bad, ""},
        {"CRLF and spaces around the line",
         config,
         "  " + good.substr(0, 88) + "\r\n",
         {current.key},
         SignatureVerdict::Good,
         current.key.fingerprint},
        {"empty file", config, "", {current.key}, SignatureVerdict::Malformed, ""},
        {"cut short", config, good.substr(0, 60), {current.key}, SignatureVerdict::Malformed, ""},
        {"not base64", config, std::string(86, '*') + "==", {current.key}, SignatureVerdict::Malformed, ""},
    };
    for (const auto& c : cases) {
        const SignatureCheck check = VerifyRelease(c.data, c.signature, c.keys);
        EXPECT_EQ(check.verdict, c.verdict) << c.name;
        EXPECT_EQ(check.fingerprint, c.fingerprint) << c.name;
    }
}

TEST(ReleaseSignatureTest, AKeyFileHoldsOneOrMoreEd25519PublicKeys) {
    const KeyPair first = MakeKey();
    const KeyPair second = MakeKey();
    std::string error;
    const auto both = ParseReleaseKeys(first.pem.publicPem + "\n# next key\n" + second.pem.publicPem, error);
    ASSERT_TRUE(both) << error;
    ASSERT_EQ(both->size(), 2u);
    EXPECT_EQ((*both)[0].fingerprint, first.key.fingerprint);
    EXPECT_EQ((*both)[1].fingerprint, second.key.fingerprint);
    EXPECT_EQ(first.key.fingerprint.size(), 64u);
    EXPECT_NE(first.key.fingerprint, second.key.fingerprint);

    const struct {
        const char* name;
        std::string text;
        const char* error;
    } refused[] = {
        {"no key", "nothing here\n", "no public key"},
        {"a private key only", first.pem.privatePem, "no public key"},
        {"no end line", first.pem.publicPem.substr(0, 60), "public key 1 has no end line"},
        {"damaged body", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n",
         "public key 1 is not an Ed25519 key"},
    };
    for (const auto& r : refused) {
        error.clear();
        EXPECT_FALSE(ParseReleaseKeys(r.text, error)) << r.name;
        EXPECT_NE(error.find(r.error), std::string::npos) << r.name << ": " << error;
    }
}

TEST(ReleaseSignatureTest, SigningNeedsAnEd25519PrivateKey) {
    const KeyPair key = MakeKey();
    std::string error;
    EXPECT_FALSE(SignRelease("data", key.pem.publicPem, error));
    EXPECT_EQ(error, "not an Ed25519 private key");
}

} // namespace

#include "base/user_folders.h"
#include "net/ca_bundle.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

namespace {

EnvironmentLookup Environment(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const char* name) {
        const auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    };
}

// A fake system: the given files exist below the root, each with a made-up certificate.
std::string FakeRoot(const TempDir& dir, const std::string& name, const std::vector<std::string>& files) {
    const std::string root = dir.File(name);
    for (const std::string& file : files) {
        MakeFolderPath((root + file).substr(0, (root + file).rfind('/')));
        WriteWholeFile(root + file, "-----BEGIN CERTIFICATE-----\n");
    }
    return root;
}

TEST(CaBundle, FirstKnownBundleOfEachSystemIsFound) {
    TempDir dir;
    struct Case {
        const char* system;
        std::vector<std::string> files;
        std::string expected; // below the root; empty: none
    };
    const Case cases[] = {
        {"debian", {"/etc/ssl/certs/ca-certificates.crt"}, "/etc/ssl/certs/ca-certificates.crt"},
        {"fedora",
         {"/etc/pki/tls/certs/ca-bundle.crt", "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem"},
         "/etc/pki/tls/certs/ca-bundle.crt"},
        {"rhel",
         {"/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem"},
         "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem"},
        {"opensuse", {"/var/lib/ca-certificates/ca-bundle.pem"}, "/var/lib/ca-certificates/ca-bundle.pem"},
        {"alpine", {"/etc/ssl/cert.pem", "/etc/ssl/certs/ca-certificates.crt"}, "/etc/ssl/certs/ca-certificates.crt"},
        {"none", {"/etc/ssl/certs/README", "/etc/pki/tls/certs/other.crt"}, ""},
    };
    for (const Case& c : cases) {
        const std::string root = FakeRoot(dir, c.system, c.files);
        const CaBundle bundle = FindCaBundle(Environment({}), root);
        EXPECT_EQ(bundle.file, c.expected.empty() ? "" : root + c.expected) << c.system;
        EXPECT_EQ(bundle.folder, "") << c.system;
        EXPECT_EQ(bundle.found(), !c.expected.empty()) << c.system;
    }
}

TEST(CaBundle, FolderOrBrokenLinkInTheKnownPlaceIsPassedOver) {
    TempDir dir;
    const std::string root = FakeRoot(dir, "odd", {"/etc/ssl/ca-bundle.pem"});
    MakeFolderPath(root + "/etc/ssl/certs/ca-certificates.crt");
    MakeFolderPath(root + "/etc/pki/tls/certs");
    ASSERT_EQ(::symlink("/nonexistent/bundle.crt", (root + "/etc/pki/tls/certs/ca-bundle.crt").c_str()), 0);
    EXPECT_EQ(FindCaBundle(Environment({}), root).file, root + "/etc/ssl/ca-bundle.pem");
}

TEST(CaBundle, EnvironmentReplacesItsOwnDefaultOnly) {
    TempDir dir;
    const std::string root = FakeRoot(dir, "debian", {"/etc/ssl/certs/ca-certificates.crt"});
    const std::string system = root + "/etc/ssl/certs/ca-certificates.crt";
    struct Case {
        std::map<std::string, std::string> environment;
        std::string file;
        std::string folder;
    };
    const Case cases[] = {
        {{{"SSL_CERT_FILE", "/private/ca.pem"}}, "/private/ca.pem", ""},
        {{{"SSL_CERT_DIR", "/private/certs"}}, system, "/private/certs"},
        {{{"SSL_CERT_FILE", "/private/ca.pem"}, {"SSL_CERT_DIR", "/private/certs"}},
         "/private/ca.pem",
         "/private/certs"},
        {{{"SSL_CERT_FILE", ""}}, system, ""}, // set but empty counts as not set
    };
    for (const Case& c : cases) {
        const CaBundle bundle = FindCaBundle(Environment(c.environment), root);
        EXPECT_EQ(bundle.file, c.file);
        EXPECT_EQ(bundle.folder, c.folder);
    }
    // With only a folder from the environment there is still something to verify with.
    EXPECT_TRUE(FindCaBundle(Environment({{"SSL_CERT_DIR", "/private/certs"}}), dir.File("empty")).found());
}

} // namespace

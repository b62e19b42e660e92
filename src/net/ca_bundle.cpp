#include "net/ca_bundle.h"

#include <cstdlib>
#include <sys/stat.h>

namespace {

std::string g_root; // the real root

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

const std::vector<std::string>& KnownCaBundleFiles() {
    static const std::vector<std::string> files = {
        "/etc/ssl/certs/ca-certificates.crt",                // Debian, Ubuntu, Arch, Gentoo, Alpine
        "/etc/pki/tls/certs/ca-bundle.crt",                  // Fedora, RHEL
        "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem", // RHEL, CentOS
        "/etc/ssl/ca-bundle.pem",                            // openSUSE
        "/var/lib/ca-certificates/ca-bundle.pem",            // openSUSE
        "/etc/pki/tls/cacert.pem",                           // OpenELEC
        "/etc/ssl/cert.pem",                                 // Alpine, Void
    };
    return files;
}

CaBundle FindCaBundle(const EnvironmentLookup& environment, const std::string& root,
                      const std::vector<std::string>& candidates) {
    CaBundle bundle{environment("SSL_CERT_FILE"), environment("SSL_CERT_DIR")};
    if (bundle.file.empty()) {
        for (const std::string& candidate : candidates) {
            if (IsFile(root + candidate)) {
                bundle.file = root + candidate;
                break;
            }
        }
    }
    return bundle;
}

bool UseCaBundle(CURL* easy) {
    const CaBundle bundle = FindCaBundle(
        [](const char* name) {
            const char* value = std::getenv(name);
            return std::string(value != nullptr ? value : "");
        },
        g_root);
    curl_easy_setopt(easy, CURLOPT_CAINFO, bundle.file.empty() ? nullptr : bundle.file.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, bundle.folder.empty() ? nullptr : bundle.folder.c_str());
    return bundle.found();
}

void SetCaBundleRoot(const std::string& root) {
    g_root = root;
}

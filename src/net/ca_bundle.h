#pragma once

#include <curl/curl.h>

#include <functional>
#include <string>
#include <vector>

// Where HTTPS transfers find the certificate authorities to trust. A libcurl built on one distribution
// looks only where that distribution keeps them, so the program looks for itself: SSL_CERT_FILE and
// SSL_CERT_DIR as OpenSSL reads them (each replaces its own default), else the first bundle file that
// exists among the places distributions keep one.
struct CaBundle {
    std::string file;   // for CURLOPT_CAINFO; empty: none
    std::string folder; // for CURLOPT_CAPATH (hashed certificate names); empty: none

    bool found() const { return !file.empty() || !folder.empty(); }
};

// Bundle files of the common distributions, the most widespread first.
const std::vector<std::string>& KnownCaBundleFiles();

// The variable's value, or empty when it is not set.
using EnvironmentLookup = std::function<std::string(const char* name)>;

// Searches `candidates` below `root` ("" for the real root; tests pass a folder of fake systems).
CaBundle FindCaBundle(const EnvironmentLookup& environment, const std::string& root,
                      const std::vector<std::string>& candidates = KnownCaBundleFiles());

// Searches this process's environment and file system, and gives the handle what was found; without
// a bundle it gives none at all, so that verification fails instead of trusting a place chosen when
// libcurl was built. Verification itself is never turned off. False when nothing was found.
bool UseCaBundle(CURL* easy);

// Makes UseCaBundle search below `root` instead of the real root. For tests.
void SetCaBundleRoot(const std::string& root);

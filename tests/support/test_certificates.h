#pragma once

#include <string>

// PEM files of a throw-away certificate authority, a server certificate it signed for `serverName`,
// and a client certificate it signed.
struct TestCertificates {
    std::string authorityFile;
    std::string serverCertificateFile;
    std::string serverKeyFile;
    std::string clientCertificateFile;
    std::string clientKeyFile;
};

TestCertificates MakeTestCertificates(const std::string& folder, const std::string& serverName);

#include "support/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

Key NewKey() {
    Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    if (!key) {
        throw std::runtime_error("EVP_EC_gen failed");
    }
    return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (extension == nullptr) {
        throw std::runtime_error("X509V3_EXT_conf_nid failed");
    }
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for `key` named `commonName`, signed by `issuerKey` (itself when `issuer` is null).
Certificate Sign(EVP_PKEY* key, const std::string& commonName, X509* issuer, EVP_PKEY* issuerKey, long serial) {
    Certificate certificate(X509_new(), &X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 7 * 24 * 3600);
    X509_set_pubkey(certificate.get(), key);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                               -1, 0);
    X509* signer = issuer != nullptr ? issuer : certificate.get();
    X509_set_issuer_name(certificate.get(), X509_get_subject_name(signer));
    if (issuer == nullptr) {
        AddExtension(certificate.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(certificate.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(certificate.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(certificate.get(), signer, NID_subject_alt_name, "DNS:" + commonName);
    }
    if (X509_sign(certificate.get(), issuerKey, EVP_sha256()) == 0) {
        throw std::runtime_error("X509_sign failed");
    }
    return certificate;
}

void WritePem(const std::string& path, X509* certificate, EVP_PKEY* key) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    const bool ok = certificate != nullptr ? PEM_write_X509(out, certificate) == 1
                                           : PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(out);
    if (!ok) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

TestCertificates MakeTestCertificates(const std::string& folder, const std::string& serverName) {
    const Key authorityKey = NewKey();
    const Certificate authority = Sign(authorityKey.get(), "Ostrel Test Authority", nullptr, authorityKey.get(), 1);
    const Key serverKey = NewKey();
    const Certificate server = Sign(serverKey.get(), serverName, authority.get(), authorityKey.get(), 2);
    const Key clientKey = NewKey();
    const Certificate client = Sign(clientKey.get(), "ostrel-client", authority.get(), authorityKey.get(), 3);

    TestCertificates files{folder + "/authority.pem", folder + "/server.pem", folder + "/server-key.pem",
                           folder + "/client.pem", folder + "/client-key.pem"};
    WritePem(files.authorityFile, authority.get(), nullptr);
    WritePem(files.serverCertificateFile, server.get(), nullptr);
    WritePem(files.serverKeyFile, nullptr, serverKey.get());
    WritePem(files.clientCertificateFile, client.get(), nullptr);
    WritePem(files.clientKeyFile, nullptr, clientKey.get());
    return files;
}

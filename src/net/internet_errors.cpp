#include "net/internet_errors.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

struct CurlMapping {
    CURLcode curl;
    std::uint32_t code;
};

constexpr CurlMapping kCurlMappings[] = {
    {CURLE_UNSUPPORTED_PROTOCOL, ERROR_HTTP_REDIRECT_FAILED}, // only a redirect can lead to another scheme
    {CURLE_URL_MALFORMAT, ERROR_INTERNET_UNRECOGNIZED_SCHEME},
    {CURLE_COULDNT_RESOLVE_PROXY, ERROR_INTERNET_NAME_NOT_RESOLVED},
    {CURLE_COULDNT_RESOLVE_HOST, ERROR_INTERNET_NAME_NOT_RESOLVED},
    {CURLE_COULDNT_CONNECT, ERROR_INTERNET_CANNOT_CONNECT},
    {CURLE_WEIRD_SERVER_REPLY, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {CURLE_PARTIAL_FILE, ERROR_INTERNET_CONNECTION_ABORTED},
    {CURLE_OPERATION_TIMEDOUT, ERROR_INTERNET_TIMEOUT},
    {CURLE_GOT_NOTHING, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {CURLE_SEND_ERROR, ERROR_INTERNET_CONNECTION_RESET},
    {CURLE_RECV_ERROR, ERROR_INTERNET_CONNECTION_RESET},
    {CURLE_TOO_MANY_REDIRECTS, ERROR_HTTP_REDIRECT_FAILED},
    {CURLE_SSL_CONNECT_ERROR, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
    {CURLE_PEER_FAILED_VERIFICATION, ERROR_INTERNET_INVALID_CA},
    {CURLE_SSL_CACERT_BADFILE, ERROR_INTERNET_INVALID_CA},
    {CURLE_SSL_CLIENTCERT, ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED},
};

struct Description {
    std::uint32_t code;
    const char* text;
};

constexpr Description kDescriptions[] = {
    {ERROR_INTERNET_TIMEOUT, "The operation timed out"},
    {ERROR_INTERNET_INTERNAL_ERROR, "An internal error occurred in the HTTP transport"},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "The URL does not use a recognized protocol"},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name or address could not be resolved"},
    {ERROR_INTERNET_OPERATION_CANCELLED, "The operation was cancelled"},
    {ERROR_INTERNET_CANNOT_CONNECT, "A connection with the server could not be established"},
    {ERROR_INTERNET_CONNECTION_ABORTED, "The connection with the server was terminated abnormally"},
    {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server was reset"},
    {ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, "The server requires a client certificate"},
    {ERROR_INTERNET_INVALID_CA, "The server's certificate could not be verified"},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server response could not be parsed"},
    {ERROR_HTTP_REDIRECT_FAILED, "The redirection failed"},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "An error occurred in the secure channel support"},
};

constexpr std::uint32_t kFirstInternetCode = 12000;
constexpr std::uint32_t kLastInternetCode = 12999;

} // namespace

std::uint32_t InternetErrorFromCurl(int curlCode, const char* detail) {
    if (curlCode == CURLE_OK) {
        return 0;
    }
    // A TLS 1.3 server refuses a missing client certificate with an alert that arrives with the answer.
    if (detail != nullptr && std::strstr(detail, "alert certificate required") != nullptr) {
        return ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
    }
    const auto* it = std::find_if(std::begin(kCurlMappings), std::end(kCurlMappings),
                                  [curlCode](const CurlMapping& m) { return m.curl == curlCode; });
    return it != std::end(kCurlMappings) ? it->code : ERROR_INTERNET_INTERNAL_ERROR;
}

std::string DescribeErrorCode(std::uint32_t code) {
    if (code >= kFirstInternetCode && code <= kLastInternetCode) {
        const auto* it = std::find_if(std::begin(kDescriptions), std::end(kDescriptions),
                                      [code](const Description& d) { return d.code == code; });
        return it != std::end(kDescriptions) ? it->text : std::string();
    }
    char buffer[256] = {};
    // The GNU variant may return a static text instead of filling the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) {
        return {};
    }
    return text;
}

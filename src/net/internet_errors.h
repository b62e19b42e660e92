#pragma once

#include <cstdint>
#include <string>

// Error codes of the HTTP transport. They share one number space with the system's error codes
// (errno values stay far below 12000), so one code names either kind of failure.
constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
constexpr std::uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr std::uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr std::uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr std::uint32_t ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr std::uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr std::uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr std::uint32_t ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED = 12044;
constexpr std::uint32_t ERROR_INTERNET_INVALID_CA = 12045;
constexpr std::uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr std::uint32_t ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr std::uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;

// The transport code for a libcurl result (a CURLcode value) and libcurl's description of it; 0 for success.
std::uint32_t InternetErrorFromCurl(int curlCode, const char* detail);

// A one-line description of a transport code or a system error code; empty for an unknown code.
std::string DescribeErrorCode(std::uint32_t code);

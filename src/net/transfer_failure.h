#pragma once

#include <cstdint>
#include <string>

// What a server's answer said of its size that the transfer could not accept.
enum class AnswerFault {
    None,
    InvalidLength,       // a Content-Length that is no size a file can have
    InvalidRange,        // a Content-Range that is no range, not the one asked for, or not the body's
    LargerThanExpected,  // a file of `announcedSize` bytes, more than the `expectedSize` it may have
    LongerThanAnnounced, // a body past the end it announced (or past `expectedSize`): `expectedSize`
    RangeRefused,        // a segment answered with the whole file or a part of another version
};

// Why the last transfer failed; all empty after a success.
struct TransferFailure {
    std::uint32_t error = 0;  // a transport or system error code, when the transfer broke
    std::uint32_t status = 0; // an HTTP status other than 200 and 206, when the server refused
    std::string retryAfter;   // that answer's Retry-After header
    // The local file could not be opened, written or placed (a full disk, a read-only folder, an I/O
    // error): no server's fault, so no retry or mirror can mend it. `error` is then the system's errno.
    bool local = false;
    // Credentials of the kind the 401 or 407 in `status` asks for had been sent: they were refused.
    bool credentialsSent = false;
    // The server answered but told no length, neither for HEAD nor for a range.
    bool lengthUnknown = false;
    AnswerFault answerFault = AnswerFault::None;
    std::uint64_t expectedSize = 0;  // with an answer fault: the size the file was to have at most
    std::uint64_t announcedSize = 0; // with LargerThanExpected: the size the answer gave it
};

// The cause in plain words for a player or a script: "disk full", "HTTP status 404", "the proxy asks
// for a password", "connection refused", "the server's certificate is not trusted", ...
std::string DescribeTransferFailure(const TransferFailure& failure);

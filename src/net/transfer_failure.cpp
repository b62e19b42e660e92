#include "net/transfer_failure.h"

#include "net/download_file.h"
#include "net/internet_errors.h"

#include <cerrno>

namespace {

std::string DescribeLocalError(std::uint32_t error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "disk full";
    case EROFS:
    case EACCES:
    case EPERM:
        return "the folder is read-only";
    case EIO:
        return "a read or write error on the disk";
    case DownloadFile::kNotRegularFile:
        return "it is a link or not a regular file; it was left alone";
    default:
        break;
    }
    const std::string text = DescribeErrorCode(error);
    return text.empty() ? "the local file cannot be written (error " + std::to_string(error) + ")"
                        : "the local file cannot be written: " + text;
}

std::string DescribeStatus(std::uint32_t status, bool credentialsSent) {
    if (status == 407) {
        return credentialsSent ? "the proxy refused the password" : "the proxy asks for a password";
    }
    if (status == 401) {
        return credentialsSent ? "the server refused the password" : "the server asks for a password";
    }
    return "HTTP status " + std::to_string(status);
}

std::string DescribeTransportError(std::uint32_t error) {
    switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
        return "connection refused";
    case ERROR_INTERNET_INVALID_CA:
        return "the server's certificate is not trusted";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return "the secure connection could not be set up";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return "the server's name cannot be resolved";
    case ERROR_INTERNET_TIMEOUT:
        return "the server stopped answering";
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
        return "the connection was cut";
    case ERROR_INTERNET_OPERATION_CANCELLED:
        return "stopped";
    default:
        break;
    }
    const std::string text = DescribeErrorCode(error);
    return text.empty() ? "error " + std::to_string(error) : text;
}

} // namespace

std::string DescribeTransferFailure(const TransferFailure& failure) {
    if (failure.local) {
        return DescribeLocalError(failure.error);
    }
    if (failure.status != 0) {
        return DescribeStatus(failure.status, failure.credentialsSent);
    }
    if (failure.error != 0) {
        return DescribeTransportError(failure.error);
    }
    switch (failure.answerFault) {
    case AnswerFault::InvalidLength:
        return "the server announced an invalid size";
    case AnswerFault::InvalidRange:
        return "the server sent a range that does not match the request";
    case AnswerFault::LargerThanExpected:
        return "the server announced " + std::to_string(failure.announcedSize) + " bytes, more than the " +
               std::to_string(failure.expectedSize) + " it announced before";
    case AnswerFault::LongerThanAnnounced:
        return "the server sent more than the " + std::to_string(failure.expectedSize) + " bytes it announced";
    case AnswerFault::RangeRefused:
        return "the server sent the whole file or another version instead of the part asked for";
    case AnswerFault::None:
        break;
    }
    if (failure.lengthUnknown) {
        return "the server does not tell the file's size";
    }
    return "the transfer failed";
}

#include "net/end_report.h"

#include "net/ca_bundle.h"

#include <curl/curl.h>

extern "C" const char ostrel_report_host[];

namespace {

constexpr long kConnectTimeoutMs = 3000;
constexpr long kTotalTimeoutMs = 5000;

// The body is of no interest: stop as soon as it starts.
size_t DiscardBody(char*, size_t, size_t, void*) {
    return 0;
}

int CheckCancelled(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& asked = *static_cast<const std::function<bool()>*>(cancelled);
    return asked && asked() ? 1 : 0;
}

} // namespace

std::string DefaultReportHost() {
    return ostrel_report_host;
}

void SendEndReportRequest(const std::string& host, const std::function<bool()>& cancelled) {
    CURL* request = curl_easy_init();
    if (request == nullptr) {
        return;
    }
    const std::string url = "http://" + host + "/launcher/tirrareport.sb?status=end";
    curl_easy_setopt(request, CURLOPT_URL, url.c_str());
    curl_easy_setopt(request, CURLOPT_USERAGENT, "TirraLauncher20120615");
    curl_easy_setopt(request, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(request, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(request, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(request, CURLOPT_TIMEOUT_MS, kTotalTimeoutMs);
    curl_easy_setopt(request, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(request, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(request, CURLOPT_XFERINFOFUNCTION, CheckCancelled);
    curl_easy_setopt(request, CURLOPT_XFERINFODATA, const_cast<void*>(static_cast<const void*>(&cancelled)));
    UseCaBundle(request);
    curl_easy_perform(request);
    curl_easy_cleanup(request);
}

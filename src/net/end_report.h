#pragma once

#include <functional>
#include <string>

// Tells the vendor's report endpoint that a run completed: one GET of
// http://<host>/launcher/tirrareport.sb?status=end. The answer is not read, and every failure is
// swallowed; the request gives up after a few seconds, or as soon as `cancelled` holds (asked at
// least once a second).
void SendEndReportRequest(const std::string& host, const std::function<bool()>& cancelled = nullptr);

// The report host this program was built with (a host name, optionally with ":port").
std::string DefaultReportHost();

#pragma once

#include <string>

// The first IPv4 address of the host of `url` in dotted form, for log lines only; "unresolved" when
// the URL has no host or the name does not resolve to an IPv4 address. Never fails.
std::string HostAddressForLog(const std::string& url);

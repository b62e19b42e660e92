#include "net/host_lookup.h"

#include "net/url_parser.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

std::string HostAddressForLog(const std::string& url) {
    ParsedUrl parsed;
    if (!ParseUrl(url, parsed) && !ParseUrl("http://" + url, parsed)) {
        return "unresolved";
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(parsed.serverName.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return "unresolved";
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool ok = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    freeaddrinfo(found);
    return ok ? text : "unresolved";
}

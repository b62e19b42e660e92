#include "support/served_folder.h"

#include "net/http_downloader.h"

#include <stdexcept>

ServedFolder::ServedFolder(FileServerOptions options) : server_(WithRoot(std::move(options), folder_.path())) {
    if (!server_.Start()) {
        throw std::runtime_error("the test server cannot listen");
    }
}

ServedFolder::~ServedFolder() {
    // Idle pooled connections would keep the server's workers waiting for them.
    CHttpDownloader2::CloseSharedConnections();
    server_.Stop();
}

FileServerOptions ServedFolder::WithRoot(FileServerOptions options, const std::string& root) {
    options.root = root;
    return options;
}

std::string PatternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) % 251);
    }
    return bytes;
}

#pragma once

#include "serve/file_server.h"
#include "support/temp_dir.h"

#include <string>

// A fresh folder served by an in-process FileServer on an ephemeral loopback port.
class ServedFolder {
public:
    explicit ServedFolder(FileServerOptions options = {});
    ~ServedFolder();

    FileServer& server() { return server_; }
    const FileServer& server() const { return server_; }
    const TempDir& folder() const { return folder_; }
    std::string Url(const std::string& target) const { return server_.Url(target); }
    void Write(const std::string& name, const std::string& content) const { folder_.Write(name, content); }

private:
    static FileServerOptions WithRoot(FileServerOptions options, const std::string& root);

    TempDir folder_;
    FileServer server_;
};

// `size` bytes of a pattern that repeats only every 251 bytes, so that misplaced pieces show.
std::string PatternBytes(std::size_t size);

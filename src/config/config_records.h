#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Keys of the control records.
enum ControlType : int {
    CT_EXECUTION = 0,
    CT_DOWNLOAD = 1,
    CT_STOP = 2,
    CT_CLOSE = 3,
    CT_FOLDER = 4,
    CT_FILE_DOWNLOAD_RATE = 6,
    CT_TOTAL_DOWNLOAD_RATE = 7,
    CT_FILE_LIST = 8,
};

// Keys of the text-section records, one per text field of the window.
enum SectionType : int {
    ST_FILE_NAME = 0,
    ST_FILE_SIZE,
    ST_FILE_RECV_SIZE,
    ST_TOTAL_SIZE,
    ST_TOTAL_RECV_SIZE,
    ST_RECV_COUNT,
    ST_TOTAL_COUNT,
    ST_FILE_DOWNLOAD_RATE,
    ST_TOTAL_DOWNLOAD_RATE,
    ST_ELAPSE_TIME,
    ST_REMAIN_TIME,
    ST_SPEED,
    ST_TRANS_STATE,
    ST_DOWNLOAD_PATH,
    ST_DISK_FREE_SPACE,
    ST_COUNT
};

// A button, progress bar or the file list.
struct ControlInfo {
    int type = 0;
    int visible = 0;
    int x = 0, y = 0;
    int width = 0, height = 0;
    std::string image;
    std::string normalImage;
    std::string pressImage;
    std::string overImage;
    std::string disableImage;
    int checked = 0;
};

// A text field of the window.
struct SectionInfo {
    int type = 0;
    int visible = 0;
    int x = 0, y = 0;
    int width = 0, height = 0;
    int colorR = 0, colorG = 0, colorB = 0;
    std::string fontName;
    int fontSize = 0;
    int align = 0;
    int bold = 0;
    int underline = 0;
    int italic = 0;
};

// A file to download. `size` and `receivedSize` are written by the survey and the worker while
// the window thread reads them, hence atomic.
struct FileInfo {
    std::string url;
    std::string localPath;
    std::atomic<std::uint64_t> size{0};
    std::atomic<std::uint64_t> receivedSize{0};
    bool autoExecute = false;
    bool autoClose = false;
    bool executable = false;
    bool waitExecute = false;
    std::string sha256;               // Sha256 in lowercase hex; empty when none (or a malformed one) is configured
    std::vector<std::string> mirrors; // further sources of the same file, in the order they are tried
};

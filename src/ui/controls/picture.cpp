#include "ui/controls/picture.h"

#include "base/fd_io.h"
#include "base/message_box.h"
#include "ui/ostrel_app.h"

#include <QByteArrayView>
#include <QPainter>
#include <QRect>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr const char* kCaption = "CPicture Error";
constexpr const char* kNoMemory = "Can not allocate enough memory\t";

void ShowPictureError(const std::string& text) {
    ShowMessageBox(text, kCaption, MessageIcon::Error, MessageButtons::Ok, ProgramMainWindow());
}

std::string DescribeOpenError(int error, const std::string& path) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return path + " was not found.";
    case EACCES:
    case EPERM:
    case EISDIR:
        return "Access to " + path + " was denied.";
    default:
        return "An unexpected error occurred while opening " + path + ": " + std::strerror(error) + ".";
    }
}

// Opens a file (not a folder) for reading and gives its length, or returns -1 with errno set.
int OpenForReading(const std::string& path, std::size_t& length) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    length = static_cast<std::size_t>(info.st_size);
    return fd;
}

} // namespace

void CPicture::Release() {
    image_ = QImage();
    height = 0;
    width = 0;
}

bool CPicture::LoadFile(const std::string& path) {
    Release();
    std::size_t length = 0;
    const int fd = OpenForReading(path, length);
    if (fd < 0) {
        ShowPictureError(DescribeOpenError(errno, path));
        return false;
    }
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(length);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        ShowPictureError(kNoMemory);
        return false;
    }
    const std::size_t got = ReadAll(fd, buffer.data(), buffer.size()).done;
    ::close(fd);
    return got > 0 && LoadFromMemory(buffer.data(), got);
}

bool CPicture::LoadFromMemory(const unsigned char* data, std::size_t size) {
    Release();
    if (data == nullptr || size == 0) {
        return false;
    }
    // Qt's decoder either yields an image or nothing; unlike a component-based decoder it has
    // no "interface not supported" answer, so an undecodable file simply fails without a message.
    QImage decoded =
        QImage::fromData(QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (decoded.isNull()) {
        return false;
    }
    // The decoder reports pixels directly, which is the size at 96 dpi.
    image_ = std::move(decoded);
    width = image_.width();
    height = image_.height();
    return true;
}

bool CPicture::Draw(QPainter& painter, const QRect& rect) const {
    if (!painter.isActive() || image_.isNull()) {
        return false;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect, image_);
    painter.restore();
    return true;
}

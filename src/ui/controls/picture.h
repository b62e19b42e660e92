#pragma once

#include <QImage>
#include <cstddef>
#include <string>

class QPainter;
class QRect;

// A decoded image file with its pixel size, drawn stretched into any rectangle.
class CPicture {
public:
    CPicture() = default;
    virtual ~CPicture() = default;

    // Reads and decodes the whole file. A file that cannot be opened is reported in a message box;
    // an empty or undecodable file fails silently. Any failure leaves the object empty.
    bool LoadFile(const std::string& path);

    // Decodes the bytes of an image file; true when a picture is now held.
    bool LoadFromMemory(const unsigned char* data, std::size_t size);

    // Draws the whole picture stretched over `rect`; false when no picture is held.
    bool Draw(QPainter& painter, const QRect& rect) const;

    bool IsEmpty() const { return image_.isNull(); }
    const QImage& Image() const { return image_; }

    int height = 0;
    int width = 0;

private:
    void Release();

    QImage image_;
};

#include "support/message_recorder.h"
#include "support/temp_dir.h"
#include "ui/controls/picture.h"
#include "widget_images.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace {

// Four quadrants of distinct colours, so stretching can be told from cropping or tiling.
QImage Quadrants(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, QColor(0xFF0000));
    painter.fillRect(width / 2, 0, width - width / 2, height / 2, QColor(0x00FF00));
    painter.fillRect(0, height / 2, width / 2, height - height / 2, QColor(0x0000FF));
    painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, QColor(0xFFFF00));
    return image;
}

TEST(Picture, FailedLoadsLeaveThePictureEmpty) {
    TempDir dir;
    const std::string valid = SaveImage(dir, "valid.png", SolidImage(5, 4, 0x123456));
    dir.Write("empty.jpg", "");
    dir.Write("text.jpg", "not an image at all");
    struct Case {
        std::string path;
        std::size_t messages;
    };
    const Case cases[] = {{dir.File("missing.jpg"), 1}, {dir.File("empty.jpg"), 0}, {dir.File("text.jpg"), 0}};
    for (const Case& c : cases) {
        CPicture picture;
        ASSERT_TRUE(picture.LoadFile(valid));
        MessageRecorder recorder;
        EXPECT_FALSE(picture.LoadFile(c.path)) << c.path;
        EXPECT_TRUE(picture.IsEmpty()) << c.path;
        EXPECT_EQ(picture.width, 0) << c.path;
        EXPECT_EQ(picture.height, 0) << c.path;
        EXPECT_EQ(recorder.Seen().size(), c.messages) << c.path;
    }
}

TEST(Picture, MissingFileIsNamedInOneErrorBox) {
    TempDir dir;
    const std::string path = dir.File("background.jpg");
    MessageRecorder recorder;
    CPicture picture;
    EXPECT_FALSE(picture.LoadFile(path));
    const auto seen = recorder.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, path + " was not found.");
    EXPECT_EQ(seen[0].title, "CPicture Error");
    EXPECT_EQ(seen[0].icon, MessageIcon::Error);
    EXPECT_EQ(seen[0].buttons, MessageButtons::Ok);
}

TEST(Picture, JpegReportsItsPixelSize) {
    TempDir dir;
    CPicture picture;
    ASSERT_TRUE(picture.LoadFile(SaveImage(dir, "background.jpg", Quadrants(576, 520))));
    EXPECT_EQ(picture.width, 576);
    EXPECT_EQ(picture.height, 520);

    const std::string bytes = ReadWholeFile(SaveImage(dir, "small.png", Quadrants(6, 8)));
    ASSERT_TRUE(picture.LoadFromMemory(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
    EXPECT_EQ(picture.width, 6);
    EXPECT_EQ(picture.height, 8);
    EXPECT_FALSE(picture.LoadFromMemory(reinterpret_cast<const unsigned char*>("GIF89a"), 6));
    EXPECT_TRUE(picture.IsEmpty());
}

TEST(Picture, DrawStretchesOverTheRectangle) {
    TempDir dir;
    CPicture picture;
    QImage canvas(60, 60, QImage::Format_RGB32);
    canvas.fill(0x000000);
    {
        QPainter painter(&canvas);
        EXPECT_FALSE(picture.Draw(painter, QRect(10, 10, 40, 40))); // nothing held yet
        ASSERT_TRUE(picture.LoadFile(SaveImage(dir, "quadrants.png", Quadrants(20, 20))));
        EXPECT_TRUE(picture.Draw(painter, QRect(10, 10, 40, 40)));
    }
    // Each quadrant now covers 20 × 20 pixels; look well inside each and just outside the rectangle.
    EXPECT_EQ(PixelAt(canvas, 12, 12), 0xFF0000u);
    EXPECT_EQ(PixelAt(canvas, 27, 27), 0xFF0000u);
    EXPECT_EQ(PixelAt(canvas, 47, 12), 0x00FF00u);
    EXPECT_EQ(PixelAt(canvas, 12, 47), 0x0000FFu);
    EXPECT_EQ(PixelAt(canvas, 47, 47), 0xFFFF00u);
    EXPECT_EQ(PixelAt(canvas, 9, 9), 0x000000u);
    EXPECT_EQ(PixelAt(canvas, 50, 50), 0x000000u);
}

} // namespace

#include "support/temp_dir.h"
#include "ui/controls/progress_ex.h"
#include "widget_images.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// A tile whose every pixel differs, so the tiling's anchor and cut show in the pixels.
QRgb TilePixel(int x, int y) {
    return qRgb(40 * x + 10, 30 * y + 5, 200) & RGB_MASK;
}

QImage Tile(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, TilePixel(x, y));
        }
    }
    return image;
}

class ProgressExTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar.drawMode = CProgressEx::kImageDrawing;
        bar.resize(516, 6);
        ASSERT_TRUE(bar.SetImageFile(SaveImage(dir, "progress_file.png", Tile(6, 8))));
    }

    // Number of columns, from the left, showing the tiles anchored at the top-left corner; fails when
    // any other column does not show the window colour.
    int TiledColumns() {
        const QImage shown = Grab(bar);
        const QRgb window = QApplication::palette().color(QPalette::Base).rgb() & RGB_MASK;
        int tiled = 0;
        while (tiled < shown.width() && PixelAt(shown, tiled, 0) == TilePixel(tiled % 6, 0)) {
            ++tiled;
        }
        for (int x = 0; x < shown.width(); ++x) {
            for (int y = 0; y < shown.height(); ++y) {
                const QRgb expected = x < tiled ? TilePixel(x % 6, y % 8) : window;
                if (PixelAt(shown, x, y) != expected) {
                    ADD_FAILURE() << "pixel " << x << "," << y;
                    return -1;
                }
            }
        }
        return tiled;
    }

    TempDir dir;
    CProgressEx bar;
};

TEST_F(ProgressExTest, FillsWithTilesFromTheLeft) {
    struct Case {
        int position;
        int tiled;
    };
    const Case cases[] = {{0, 0}, {50, 258}, {33, 170}, {100, 516}, {1, 5}};
    for (const Case& c : cases) {
        bar.SetPos(c.position);
        EXPECT_EQ(TiledColumns(), c.tiled) << "position " << c.position;
    }
}

TEST_F(ProgressExTest, IgnoresPositionsOutsideTheBounds) {
    EXPECT_EQ(bar.SetPos(50), 0); // 0 at construction
    EXPECT_EQ(bar.SetPos(-1), 50);
    EXPECT_EQ(bar.SetPos(101), 50);
    EXPECT_EQ(TiledColumns(), 258);
    EXPECT_EQ(bar.SetPos(33), 50);
    EXPECT_EQ(TiledColumns(), 170);
}

TEST_F(ProgressExTest, CutsTilesAtTheBottomAndKeepsTheImageOnAFailedLoad) {
    bar.resize(20, 7); // an 8-pixel-high image: one row of tiles, cut to 7 rows
    bar.SetPos(100);
    EXPECT_EQ(TiledColumns(), 20);
    EXPECT_FALSE(bar.SetImageFile(dir.File("missing.jpg")));
    EXPECT_EQ(TiledColumns(), 20);
}

} // namespace

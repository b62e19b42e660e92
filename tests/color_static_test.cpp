#include "ui/controls/color_static.h"
#include "widget_images.h"

#include <QCoreApplication>
#include <QFont>
#include <QScreen>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

const QRect kLabelRect(10, 20, 300, 50);

// A patterned window with one label on it, text in 98,98,98 and a large font so that glyph stems
// have fully covered pixels.
struct LabelOnWindow {
    explicit LabelOnWindow(const std::string& text) {
        window.resize(340, 90);
        label.setGeometry(kLabelRect);
        QFont font(QStringLiteral("돋움"));
        font.setPixelSize(36);
        label.setFont(font);
        label.textColor = MakeColorRef(98, 98, 98);
        label.SetWindowText(text);
    }
    PatternWindow window;
    CColorStatic label{&window};
};

// The box around the pixels of `image` (within the label) that differ from the window's pattern.
QRect TextBox(const QImage& image) {
    QRect box;
    for (int y = kLabelRect.top(); y <= kLabelRect.bottom(); ++y) {
        for (int x = kLabelRect.left(); x <= kLabelRect.right(); ++x) {
            if (PixelAt(image, x, y) != PatternWindow::PatternAt(x, y)) {
                box |= QRect(x - kLabelRect.left(), y - kLabelRect.top(), 1, 1);
            }
        }
    }
    return box;
}

TEST(ColorStatic, ColourReferenceTakesEightBitsPerChannel) {
    EXPECT_EQ(MakeColorRef(98, 98, 98), 0x626262u);
    EXPECT_EQ(MakeColorRef(255, 255, 255), 0xFFFFFFu);
    EXPECT_EQ(MakeColorRef(0x12, 0x34, 0x56), 0x563412u);
    EXPECT_EQ(MakeColorRef(0x1FF, 0, 0), 0xFFu);
}

TEST(ColorStatic, DrawsTextInItsColourOverTheWindow) {
    LabelOnWindow scene("가나다 123");
    const QImage shown = Grab(scene.window);
    int textPixels = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            textPixels += PixelAt(shown, x, y) == 0x626262u ? 1 : 0;
        }
    }
    EXPECT_GT(textPixels, 20);
    // No background of its own: away from the text the window shows.
    EXPECT_EQ(PixelAt(shown, kLabelRect.right(), kLabelRect.bottom()),
              PatternWindow::PatternAt(kLabelRect.right(), kLabelRect.bottom()));
}

TEST(ColorStatic, AlignsHorizontallyFromTheTop) {
    struct Case {
        Qt::Alignment alignment;
        int expectedCentre;
    };
    const Case cases[] = {{Qt::AlignLeft, 0}, {Qt::AlignHCenter, kLabelRect.width() / 2}, {Qt::AlignRight, -1}};
    for (const Case& c : cases) {
        LabelOnWindow scene("가나다");
        scene.label.SetAlignment(c.alignment);
        const QRect box = TextBox(Grab(scene.window));
        ASSERT_FALSE(box.isEmpty());
        EXPECT_LT(box.top(), 12) << c.alignment.toInt();
        if (c.alignment == Qt::AlignLeft) {
            EXPECT_LT(box.left(), 6);
        } else if (c.alignment == Qt::AlignRight) {
            EXPECT_GT(box.right(), kLabelRect.width() - 7);
        } else {
            EXPECT_NEAR(box.center().x(), c.expectedCentre, 4);
        }
    }
}

TEST(ColorStatic, LabelAsHighAsTheFontSizeShowsWholeGlyphs) {
    // The substitute face's line is taller than its size; descenders must not be cut off.
    const QRgb background = 0xF0F0F0;
    const auto inkPixels = [background](int labelHeight) {
        QWidget window; // plain, so the same glyphs blend the same wherever they land
        window.setPalette(QPalette(QColor(background)));
        window.setAutoFillBackground(true);
        window.resize(200, 60);
        CColorStatic label(&window);
        label.setGeometry(10, 20, 150, labelHeight);
        QFont font(QStringLiteral("돋움"));
        font.setPixelSize(12);
        label.setFont(font);
        label.SetWindowText("Setup.exe 다운로드 중");
        const QImage shown = Grab(window);
        int ink = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                ink += PixelAt(shown, x, y) != background ? 1 : 0;
            }
        }
        return ink;
    };
    EXPECT_EQ(inkPixels(12), inkPixels(30));
}

TEST(ColorStatic, UnderlineStaysInsideAShortLabel) {
    QWidget window;
    window.setPalette(QPalette(QColor(0xF0F0F0)));
    window.setAutoFillBackground(true);
    window.resize(200, 40);
    CColorStatic label(&window);
    label.setGeometry(10, 10, 150, 12); // as high as the font size, like the configured path label
    label.textColor = MakeColorRef(0, 0, 255);
    QFont font(QStringLiteral("돋움"));
    font.setPixelSize(12);
    font.setUnderline(true);
    label.setFont(font);
    label.SetWindowText("/home/player/Documents");
    const QImage shown = Grab(window);
    // A line of text colour runs under most of the text inside the label's last rows.
    int longest = 0;
    for (int y = 10 + 9; y < 10 + 12; ++y) {
        int run = 0;
        for (int x = 10; x < 160; ++x) {
            run = PixelAt(shown, x, y) == 0x0000FF ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    EXPECT_GT(longest, 100);
}

TEST(ColorStatic, ShorterTextLeavesNoTraceOnScreen) {
    LabelOnWindow scene("다운로드 진행 중...");
    scene.window.show();
    QCoreApplication::processEvents();
    for (const char* text : {"완료", "완료"}) { // the same text again still repaints cleanly
        scene.label.SetWindowText(text);
        QCoreApplication::processEvents();
        // What the window really shows (its backing store), against a fresh window with only the short text.
        const QImage onScreen =
            scene.window.screen()->grabWindow(scene.window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        LabelOnWindow fresh(text);
        EXPECT_EQ(onScreen, Grab(fresh.window)) << text;
    }
}

TEST(ColorStatic, PathEllipsisDropsTheMiddleAndKeepsTheEnd) {
    const auto render = [](const std::string& middle, const std::string& name, bool ellipsis) {
        LabelOnWindow scene("/home/player/Documents/" + middle + "/" + name);
        scene.label.SetPathEllipsis(ellipsis);
        return Grab(scene.window);
    };
    const std::string m(60, 'm');
    const std::string n(60, 'n');
    EXPECT_EQ(render(m, "setup.exe", true), render(n, "setup.exe", true));
    EXPECT_NE(render(m, "setup.exe", true), render(m, "patch.exe", true));
    // Without it the end is what gets lost.
    EXPECT_EQ(render(m, "setup.exe", false), render(m, "patch.exe", false));
}

} // namespace

#include "support/message_recorder.h"
#include "support/temp_dir.h"
#include "ui/controls/zel_button.h"
#include "widget_images.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

constexpr QRgb kSlotColors[CZelButton::kImageCount] = {0x10A010, 0xA01010, 0x1010A0, 0x808080};
const QPoint kButtonAt(30, 40);
const QPoint kSample(20, 10); // a plain image pixel, in button coordinates

// A button image of one colour with a key-coloured square at (2, 2), and one pixel each of the
// colours next to the key at (8, 2) and (9, 2).
QImage ButtonImage(int width, int height, QRgb color) {
    QImage image = SolidImage(width, height, color);
    QPainter(&image).fillRect(2, 2, 4, 4, QColor(0xDEDEDE));
    image.setPixel(8, 2, 0xFFDEDEDF);
    image.setPixel(9, 2, 0xFFFFFFFF);
    return image;
}

class ZelButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(200, 100);
        button.move(kButtonAt);
        for (int i = 0; i < CZelButton::kImageCount; ++i) {
            const std::string name = "slot" + std::to_string(i) + ".png";
            ASSERT_TRUE(button.SetImageFile(i, SaveImage(dir, name, ButtonImage(84, 30, kSlotColors[i]))));
        }
    }

    // The colour the window shows at a point of the button.
    QRgb Shown(QPoint inButton) {
        const QPoint at = kButtonAt + inButton;
        return PixelAt(Grab(window), at.x(), at.y());
    }

    void Hover(bool in) {
        if (in) {
            QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
            QCoreApplication::sendEvent(&button, &enter);
        } else {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(&button, &leave);
        }
    }

    TempDir dir;
    PatternWindow window;
    CZelButton button{&window};
};

TEST_F(ZelButtonTest, OnlyTheExactKeyColourShowsTheBackground) {
    const QRgb beneath = PatternWindow::PatternAt(kButtonAt.x() + 3, kButtonAt.y() + 3);
    ASSERT_NE(beneath, 0xDEDEDEu);
    EXPECT_EQ(Shown(QPoint(3, 3)), beneath);
    EXPECT_EQ(Shown(QPoint(8, 2)), 0xDEDEDFu);
    EXPECT_EQ(Shown(QPoint(9, 2)), 0xFFFFFFu);
    EXPECT_EQ(Shown(kSample), kSlotColors[CZelButton::kNormal]);
}

TEST_F(ZelButtonTest, ShowsTheImageOfItsState) {
    struct Step {
        const char* what;
        bool hover;
        bool down;
        bool enabled;
        int shown;
    };
    const Step steps[] = {
        {"at rest", false, false, true, CZelButton::kNormal},
        {"mouse over", true, false, true, CZelButton::kOver},
        {"pressed while over", true, true, true, CZelButton::kPress},
        {"disabled while over and pressed", true, true, false, CZelButton::kDisable},
        {"disabled", false, false, false, CZelButton::kDisable},
        {"enabled again, mouse over", true, false, true, CZelButton::kOver},
        {"mouse left", false, false, true, CZelButton::kNormal},
    };
    for (const Step& step : steps) {
        button.setEnabled(step.enabled);
        Hover(step.hover);
        button.setDown(step.down);
        EXPECT_EQ(Shown(kSample), kSlotColors[step.shown]) << step.what;
    }
}

TEST_F(ZelButtonTest, DisabledButtonTakesNoClicks) {
    int clicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&clicks] { ++clicks; });
    const QPointF at(10, 10);
    for (const bool enabled : {false, true}) {
        button.setEnabled(enabled);
        QMouseEvent press(QEvent::MouseButtonPress, at, button.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, button.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(&button, &press);
        QCoreApplication::sendEvent(&button, &release);
        EXPECT_EQ(clicks, enabled ? 1 : 0) << "enabled " << enabled;
    }
}

TEST_F(ZelButtonTest, ADoubleClickIsOneClick) {
    int clicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&clicks] { ++clicks; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // Through the window, as a platform delivers a double click: press, release, a double-click event
    // in place of the second press, release.
    const QPoint at = kButtonAt + kSample;
    QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(button.isDown());
    EXPECT_EQ(button.CurrentImageIndex(), CZelButton::kOver); // the pointer rests on it, not pressed

    // Two single clicks are two.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_EQ(clicks, 2);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_EQ(clicks, 3);
}

TEST_F(ZelButtonTest, TakesTheSizeOfTheLastLoadedImage) {
    // A smaller disable image: the button shrinks to it, and a larger normal image is drawn from the
    // top-left corner, cut by the button.
    ASSERT_TRUE(button.SetImageFile(CZelButton::kDisable, SaveImage(dir, "small.png", ButtonImage(60, 20, 0x404040))));
    EXPECT_EQ(button.geometry(), QRect(kButtonAt, QSize(60, 20)));
    EXPECT_EQ(Shown(QPoint(59, 19)), kSlotColors[CZelButton::kNormal]);
    EXPECT_EQ(PixelAt(Grab(window), kButtonAt.x() + 60, kButtonAt.y()),
              PatternWindow::PatternAt(kButtonAt.x() + 60, kButtonAt.y()));

    // A failed load empties the slot and leaves the geometry alone.
    dir.Write("empty.jpg", "");
    EXPECT_FALSE(button.SetImageFile(CZelButton::kNormal, dir.File("empty.jpg")));
    EXPECT_TRUE(button.images[CZelButton::kNormal].IsEmpty());
    EXPECT_EQ(button.geometry(), QRect(kButtonAt, QSize(60, 20)));
    EXPECT_FALSE(button.SetImageFile(4, dir.File("slot0.png")));
}

// Pixels of the line one in from the edge that are far from `color`.
int FarPixelsOnTheFrameLine(const QImage& image, QPoint origin, QSize size, QRgb color) {
    int far = 0;
    for (int x = 1; x < size.width() - 1; ++x) {
        const QRgb shown = PixelAt(image, origin.x() + x, origin.y() + 1);
        const int distance = std::abs(qRed(shown) - qRed(color)) + std::abs(qGreen(shown) - qGreen(color)) +
                             std::abs(qBlue(shown) - qBlue(color));
        far += distance > 300 ? 1 : 0;
    }
    return far;
}

TEST_F(ZelButtonTest, KeyboardFocusDrawsAFrameThatShowsOnAnyImage) {
    QPushButton other(&window); // somewhere for the focus to go
    other.move(0, 0);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_TRUE(button.focusPolicy() & Qt::TabFocus);
    for (const QRgb color : {0xFFFFFFu, 0x000000u, 0x808080u}) {
        ASSERT_TRUE(button.SetImageFile(CZelButton::kNormal, SaveImage(dir, "plain.png", SolidImage(84, 30, color))));
        other.setFocus(Qt::TabFocusReason);
        EXPECT_EQ(FarPixelsOnTheFrameLine(Grab(window), kButtonAt, button.size(), color), 0) << std::hex << color;
        button.setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(button.hasFocus());
        EXPECT_GT(FarPixelsOnTheFrameLine(Grab(window), kButtonAt, button.size(), color), 20) << std::hex << color;
    }
}

TEST_F(ZelButtonTest, SpaceAndEnterPressTheFocusedButton) {
    int clicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&clicks] { ++clicks; });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    button.setFocus(Qt::TabFocusReason);
    struct Case {
        Qt::Key key;
        bool enabled;
        int clicks;
    };
    const Case cases[] = {{Qt::Key_Space, true, 1},  {Qt::Key_Return, true, 1},  {Qt::Key_Enter, true, 1},
                          {Qt::Key_Escape, true, 0}, {Qt::Key_Return, false, 0}, {Qt::Key_Space, false, 0}};
    for (const Case& c : cases) {
        clicks = 0;
        button.setEnabled(c.enabled);
        if (c.enabled) {
            button.setFocus(Qt::TabFocusReason);
        }
        QTest::keyClick(&button, c.key);
        EXPECT_EQ(clicks, c.clicks) << c.key << " enabled " << c.enabled;
    }
    // A held Enter is one press.
    button.setEnabled(true);
    clicks = 0;
    QTest::keyPress(&button, Qt::Key_Return);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QCoreApplication::sendEvent(&button, &repeat);
    QTest::keyRelease(&button, Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
}

} // namespace

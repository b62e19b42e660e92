#include "ui/app_icon.h"

#include <QGuiApplication>
#include <QImage>
#include <gtest/gtest.h>

// Built with icon.png beside this file (300 px, all blue): that one image is the icon, in place of
// Ostrel's amber arrow in its seven sizes.
TEST(BrandedIcon, TheServicesPngIsTheWindowsIcon) {
    int argc = 1;
    char name[] = "branded_icon_test";
    char* argv[] = {name, nullptr};
    const QGuiApplication app(argc, argv);
    const QIcon icon = ApplicationIcon();
    EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(300, 300)});
    const QImage image = icon.pixmap(48, 48).toImage();
    ASSERT_EQ(image.size(), QSize(48, 48));
    EXPECT_EQ(image.pixelColor(24, 24), QColor(0x1e, 0x50, 0xc8));
}

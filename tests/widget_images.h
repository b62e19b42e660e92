#pragma once

#include "support/temp_dir.h"

#include <QImage>
#include <QWidget>
#include <string>

// Helpers for widget tests that look at pixels.

QImage SolidImage(int width, int height, QRgb color);

// Saves `image` under `name` in `dir` (format from the extension) and returns the path.
std::string SaveImage(const TempDir& dir, const std::string& name, const QImage& image);

// What `widget` and its children paint, as 32-bit pixels.
QImage Grab(QWidget& widget);

// Colours here are compared without their alpha.
inline QRgb PixelAt(const QImage& image, int x, int y) {
    return image.pixel(x, y) & RGB_MASK;
}

// A window that paints a fixed, position-dependent pattern as its background.
class PatternWindow : public QWidget {
public:
    explicit PatternWindow(QWidget* parent = nullptr) : QWidget(parent) {}
    static QRgb PatternAt(int x, int y); // without alpha

protected:
    void paintEvent(QPaintEvent* event) override;
};

#include "widget_images.h"

#include <QPainter>

QImage SolidImage(int width, int height, QRgb color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

std::string SaveImage(const TempDir& dir, const std::string& name, const QImage& image) {
    const std::string path = dir.File(name);
    image.save(QString::fromStdString(path), nullptr, 100);
    return path;
}

QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb PatternWindow::PatternAt(int x, int y) {
    return qRgb((x * 7) & 0xFF, (y * 11) & 0xFF, ((x + y) * 3) & 0xFF) & RGB_MASK;
}

void PatternWindow::paintEvent(QPaintEvent*) {
    QImage pattern(size(), QImage::Format_RGB32);
    for (int y = 0; y < pattern.height(); ++y) {
        for (int x = 0; x < pattern.width(); ++x) {
            pattern.setPixel(x, y, PatternAt(x, y));
        }
    }
    QPainter(this).drawImage(0, 0, pattern);
}

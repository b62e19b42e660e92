#include "ui/controls/zel_button.h"

#include "ui/dialog_keys.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// Alternating black and white dots one pixel in from the edge: one of the two shows on any image.
void DrawFocusFrame(QPainter& painter, const QRect& bounds) {
    const QRect frame = bounds.adjusted(1, 1, -2, -2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::white, 0));
    painter.drawRect(frame);
    painter.setPen(QPen(Qt::black, 0, Qt::DotLine));
    painter.drawRect(frame);
    painter.restore();
}

} // namespace

bool CZelBmp::LoadFile(const std::string& path) {
    keyed_ = QImage();
    width = 0;
    height = 0;
    if (!picture.LoadFile(path)) {
        return false;
    }
    width = picture.width;
    height = picture.height;
    keyed_ = picture.Image().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < keyed_.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed_.scanLine(y));
        for (int x = 0; x < keyed_.width(); ++x) {
            if ((line[x] & RGB_MASK) == kKeyColor) {
                line[x] = 0; // transparent
            }
        }
    }
    keyed_.convertTo(QImage::Format_ARGB32_Premultiplied); // the format the painter blends fastest
    return true;
}

void CZelBmp::DrawTransparent(QPainter& painter) const {
    if (keyed_.isNull()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(0, 0, width, height), keyed_);
    painter.restore();
}

CZelButton::CZelButton(QWidget* parent) : QAbstractButton(parent) {
    // Nothing of its own beneath the images: the parent's background shows through key pixels.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    // Tab brings the focus, a click does not: the frame shows only for a player on the keyboard.
    setFocusPolicy(Qt::TabFocus);
}

bool CZelButton::SetImageFile(int index, const std::string& path) {
    if (index < 0 || index >= kImageCount) {
        return false;
    }
    CZelBmp& image = images[static_cast<std::size_t>(index)];
    if (!image.LoadFile(path)) {
        update();
        return false;
    }
    resize(image.width, image.height);
    update();
    return true;
}

int CZelButton::CurrentImageIndex() const {
    if (!isEnabled()) {
        return kDisable;
    }
    if (isDown()) {
        return kPress;
    }
    return hover_ ? kOver : kNormal;
}

void CZelButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    images[static_cast<std::size_t>(CurrentImageIndex())].DrawTransparent(painter);
    if (hasFocus()) {
        DrawFocusFrame(painter, rect());
    }
}

void CZelButton::enterEvent(QEnterEvent* event) {
    if (!hover_) {
        hover_ = true;
        update();
    }
    QAbstractButton::enterEvent(event);
}

void CZelButton::leaveEvent(QEvent* event) {
    if (hover_) {
        hover_ = false;
        update();
    }
    QAbstractButton::leaveEvent(event);
}

void CZelButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt delivers the second press of a double click as this event, and a button would take it as a
    // press of its own: a double click would be two clicks. It is one.
    event->accept();
}

void CZelButton::keyPressEvent(QKeyEvent* event) {
    // Space is the button's own; Enter presses the focused button as it does on a native dialog.
    if (IsEnterPress(*event)) {
        event->accept();
        click();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept(); // a held Enter presses once
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

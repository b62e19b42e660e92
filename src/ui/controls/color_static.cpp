#include "ui/controls/color_static.h"

#include "ui/controls/control_accessibility.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

CColorStatic::CColorStatic(QWidget* parent) : QWidget(parent) {
    // No background of its own: the parent's background is painted beneath on every repaint.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    InstallControlAccessibility();
}

void CColorStatic::SetWindowText(const std::string& text) {
    const QString previous = text_;
    text_ = QString::fromStdString(text);
    // A see-through widget's repaint redraws the parent beneath it first, which wipes the old text.
    repaint();
    if (text_ != previous) {
        QAccessibleEvent changed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

std::string CColorStatic::GetWindowText() const {
    return text_.toStdString();
}

void CColorStatic::SetAlignment(Qt::Alignment horizontal) {
    alignment_ = horizontal & Qt::AlignHorizontal_Mask;
    update();
}

void CColorStatic::SetPathEllipsis(bool on) {
    pathEllipsis_ = on;
    update();
}

void CColorStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor color(static_cast<int>(textColor & 0xFF), static_cast<int>(textColor >> 8 & 0xFF),
                       static_cast<int>(textColor >> 16 & 0xFF));
    painter.setPen(color);
    const int flags = (alignment_ | Qt::AlignTop).toInt();
    // Labels are laid out for faces whose line is as tall as the font size; a substitute face with
    // a taller line would lose its descenders at the bottom edge, so such a line moves up into the
    // empty space above the capitals instead.
    const QFontMetrics metrics = fontMetrics();
    const int lift = std::max(0, metrics.height() - height());
    const QRect area = rect().adjusted(0, -lift, 0, 0);
    // The face's own underline would fall below such a short label: it is drawn by hand instead.
    const bool underline = font().underline();
    if (underline) {
        QFont plain = font();
        plain.setUnderline(false);
        painter.setFont(plain);
    }
    QRect drawn;
    if (pathEllipsis_) {
        const QString shown = metrics.elidedText(text_, Qt::ElideMiddle, width());
        painter.drawText(area, flags | Qt::TextSingleLine, shown, &drawn);
    } else {
        // Like a native static text: words that do not fit go to a next line, cut off below.
        painter.drawText(area, flags | Qt::TextWordWrap, text_, &drawn);
    }
    if (underline && !drawn.isEmpty()) {
        const int y = std::min(area.top() + metrics.ascent() + metrics.underlinePos(), height() - 1);
        painter.fillRect(drawn.left(), y, drawn.width(), std::max(1, metrics.lineWidth()), color);
    }
}

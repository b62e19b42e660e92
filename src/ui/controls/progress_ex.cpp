#include "ui/controls/progress_ex.h"

#include "ui/controls/control_accessibility.h"

#include <QAccessible>
#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

CProgressEx::CProgressEx(QWidget* parent)
    : QWidget(parent), backgroundColor_(QApplication::palette().color(QPalette::Base)) {
    InstallControlAccessibility();
}

bool CProgressEx::SetImageFile(const std::string& path) {
    QImage loaded(QString::fromStdString(path));
    if (loaded.isNull()) {
        return false;
    }
    image_ = loaded.convertToFormat(QImage::Format_RGB32);
    imageWidth_ = image_.width();
    imageHeight_ = image_.height();
    tileSheet_ = QImage();
    update();
    return true;
}

int CProgressEx::SetPos(int position) {
    const int previous = position_;
    if (position >= lower_ && position <= upper_) {
        position_ = position;
        update();
        if (position_ != previous) {
            QAccessibleValueChangeEvent changed(this, position_);
            QAccessible::updateAccessibility(&changed);
        }
    }
    return previous;
}

int CProgressEx::Percent() const {
    return (position_ - lower_) * 100 / (upper_ - lower_);
}

int CProgressEx::FilledWidth() const {
    // Same order of operations as the native bar: the fraction first, then the width, truncated.
    const double fraction = static_cast<double>(position_ - lower_) / static_cast<double>(upper_ - lower_);
    return static_cast<int>(fraction * width());
}

const QImage& CProgressEx::TileSheet() {
    if (tileSheet_.isNull() && !image_.isNull() && !size().isEmpty()) {
        tileSheet_ = QImage(size(), QImage::Format_RGB32);
        QPainter sheet(&tileSheet_);
        for (int x = 0; x < width(); x += imageWidth_) {
            for (int y = 0; y < height(); y += imageHeight_) {
                sheet.drawImage(x, y, image_);
            }
        }
    }
    return tileSheet_;
}

void CProgressEx::PaintPlatformBar(QPainter& painter) {
    QStyleOptionProgressBar option;
    option.initFrom(this);
    option.state |= QStyle::State_Horizontal;
    option.minimum = lower_;
    option.maximum = upper_;
    option.progress = position_;
    option.textVisible = false;
    style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
}

void CProgressEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (drawMode != kImageDrawing || image_.isNull()) {
        PaintPlatformBar(painter);
        return;
    }
    const int filled = FilledWidth();
    if (filled > 0) {
        const QRect done(0, 0, filled, height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(done, TileSheet(), done);
    }
    painter.fillRect(QRect(filled, 0, width() - filled, height()), backgroundColor_);
}

void CProgressEx::resizeEvent(QResizeEvent* event) {
    tileSheet_ = QImage();
    QWidget::resizeEvent(event);
}

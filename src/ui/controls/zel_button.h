#pragma once

#include "ui/controls/picture.h"

#include <QAbstractButton>
#include <QImage>
#include <array>
#include <string>

class QPainter;

// One image of an image button. Pixels of exactly the key colour are see-through.
class CZelBmp {
public:
    static constexpr QRgb kKeyColor = 0xDEDEDE;

    bool LoadFile(const std::string& path);
    bool IsEmpty() const { return picture.IsEmpty(); }

    // Draws the image at (0, 0) at its own size; key-coloured pixels leave the target as it was.
    void DrawTransparent(QPainter& painter) const;

    CPicture picture;
    int width = 0;
    int height = 0;

private:
    QImage keyed_; // the picture with key-coloured pixels fully transparent, made once per load
};

// A push button drawn entirely from four images: normal, mouse over, pressed and disabled. The
// keyboard reaches it with Tab, which draws a frame over the image; Space or Enter presses it.
class CZelButton : public QAbstractButton {
    Q_OBJECT
public:
    enum ImageIndex { kNormal = 0, kOver = 1, kPress = 2, kDisable = 3, kImageCount = 4 };

    explicit CZelButton(QWidget* parent = nullptr);

    // Loads image slot `index` (0 to 3). On success the button takes exactly that image's size,
    // keeping its top-left corner; on failure the slot is left empty and the button unchanged.
    bool SetImageFile(int index, const std::string& path);

    // The slot the button shows in its current state.
    int CurrentImageIndex() const;

    std::array<CZelBmp, kImageCount> images;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool hover_ = false;
};

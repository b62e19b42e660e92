#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <string>

// A progress bar that, in image drawing mode, fills its done part with a small image tiled from
// its top-left corner and its remaining part with the window colour.
class CProgressEx : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPlatformDrawing = 1;
    static constexpr int kImageDrawing = 3;

    explicit CProgressEx(QWidget* parent = nullptr);

    // Loads the tile image. On failure the bar keeps its previous image and returns false.
    bool SetImageFile(const std::string& path);

    // Stores `position` and repaints when it lies within the bounds (inclusive); a position outside
    // them is ignored. Returns the position held before the call, as a native bar's set-position does.
    int SetPos(int position);
    int Pos() const { return position_; }
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    // How far the bar is, 0 to 100.
    int Percent() const;

    int drawMode = kPlatformDrawing;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int FilledWidth() const;
    const QImage& TileSheet();
    void PaintPlatformBar(QPainter& painter);

    QImage image_;
    int imageWidth_ = 0;
    int imageHeight_ = 0;
    int lower_ = 0;
    int upper_ = 100;
    int position_ = 0;
    QColor backgroundColor_;
    QImage tileSheet_; // the image tiled over the whole bar; rebuilt after a resize or a new image
};

#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

// A colour as red, green and blue in the low, middle and high byte; each value is taken as 8 bits.
constexpr std::uint32_t MakeColorRef(int red, int green, int blue) {
    return static_cast<std::uint32_t>(red & 0xFF) | static_cast<std::uint32_t>(green & 0xFF) << 8 |
           static_cast<std::uint32_t>(blue & 0xFF) << 16;
}

// A text label that paints only its text, in its own colour, over whatever lies beneath it.
// Font (setFont) and placement come from the window.
class CColorStatic : public QWidget {
    Q_OBJECT
public:
    explicit CColorStatic(QWidget* parent = nullptr);

    // Replaces the text (UTF-8) and repaints at once, together with the parent's area beneath,
    // so nothing of the old text stays visible.
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;

    // Qt::AlignLeft, Qt::AlignHCenter or Qt::AlignRight; the text always starts at the top.
    void SetAlignment(Qt::Alignment horizontal);
    Qt::Alignment Alignment() const { return alignment_; }

    // For a path: text that does not fit loses its middle to an ellipsis rather than its end.
    void SetPathEllipsis(bool on);

    // Colour of the text as from MakeColorRef; black at first. Repaint after changing it.
    std::uint32_t textColor = 0x000000;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Qt::Alignment alignment_ = Qt::AlignLeft;
    bool pathEllipsis_ = false;
};

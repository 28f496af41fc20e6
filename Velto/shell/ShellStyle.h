#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QWidget>

// Text sizes, foreground levels and named colours of the shell's views. Sizes are relative to the
// application font, taken as 13 pt.
namespace ShellStyle {

enum class TextStyle { title, title2, headline, body, callout, subheadline, caption, caption2 };
enum class Foreground { primary, secondary, tertiary };

QFont font(TextStyle style, QFont base = {});
QColor foreground(Foreground level, const QPalette &palette = {});

// A wrapping label in a text style and foreground level.
QLabel *label(const QString &text, TextStyle style, Foreground level, QWidget *parent);

// A symbol image drawn in one colour, side × side logical pixels.
QPixmap tintedSymbol(const QString &name, int side, const QColor &color,
                     qreal devicePixelRatio = 1);

namespace Colors {
inline const QColor gray {0x8E, 0x8E, 0x93};
inline const QColor orange {0xFF, 0x95, 0x00};
inline const QColor green {0x34, 0xC7, 0x59};
inline const QColor red {0xFF, 0x3B, 0x30};
inline const QColor yellow {0xFF, 0xCC, 0x00};
inline const QColor blue {0x00, 0x7A, 0xFF};
} // namespace Colors

} // namespace ShellStyle

// A small filled circle that shows a state by its colour.
class StatusDot : public QWidget
{
public:
    explicit StatusDot(int diameter, QWidget *parent = nullptr);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color = ShellStyle::Colors::gray;
};

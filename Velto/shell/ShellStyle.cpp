#include "Velto/shell/ShellStyle.h"

#include <QApplication>

namespace ShellStyle {

QFont font(TextStyle style, QFont base)
{
    double points = 13;
    bool bold = false;
    switch (style) {
    case TextStyle::title:
        points = 22;
        break;
    case TextStyle::headline:
        bold = true;
        break;
    case TextStyle::body:
        break;
    case TextStyle::callout:
        points = 12;
        break;
    case TextStyle::subheadline:
        points = 11;
        break;
    case TextStyle::caption:
    case TextStyle::caption2:
        points = 10;
        break;
    }
    const double basePoints = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    base.setPointSizeF(basePoints * points / 13.0);
    if (bold)
        base.setBold(true);
    return base;
}

QColor foreground(Foreground level, const QPalette &palette)
{
    QColor color = palette.color(QPalette::Active, QPalette::WindowText);
    switch (level) {
    case Foreground::primary:
        break;
    case Foreground::secondary:
        color.setAlphaF(0.55);
        break;
    case Foreground::tertiary:
        color.setAlphaF(0.3);
        break;
    }
    return color;
}

} // namespace ShellStyle

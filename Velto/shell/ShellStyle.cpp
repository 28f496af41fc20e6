#include "Velto/shell/ShellStyle.h"

#include "platform/Icons.h"

#include <QApplication>
#include <QPainter>

namespace ShellStyle {

QFont font(TextStyle style, QFont base)
{
    double points = 13;
    bool bold = false;
    switch (style) {
    case TextStyle::title:
        points = 22;
        break;
    case TextStyle::title2:
        points = 17;
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

QLabel *label(const QString &text, TextStyle style, Foreground level, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font(style, parent ? parent->font() : QFont()));
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, foreground(level, palette));
    label->setPalette(palette);
    return label;
}

QPixmap tintedSymbol(const QString &name, int side, const QColor &color, qreal devicePixelRatio)
{
    QPixmap pixmap = Icons::symbol(name).pixmap(QSize(side, side), devicePixelRatio);
    if (pixmap.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    return pixmap;
}

} // namespace ShellStyle

StatusDot::StatusDot(int diameter, QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(diameter, diameter);
}

void StatusDot::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void StatusDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(rect());
}

#include "Velto/editor/EditorScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

EditorScrollBar::EditorScrollBar(QWidget *parent)
    : QScrollBar(Qt::Vertical, parent)
{
}

EditorScrollBar::Look EditorScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
}

void EditorScrollBar::sliderChange(SliderChange change)
{
    const Look now = look();
    if (change != SliderOrientationChange && now == m_shown)
        return;
    QScrollBar::sliderChange(change);
}

void EditorScrollBar::paintEvent(QPaintEvent *event)
{
    m_shown = look();
    QScrollBar::paintEvent(event);
}

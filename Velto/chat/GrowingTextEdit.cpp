#include "Velto/chat/GrowingTextEdit.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextLayout>

GrowingTextEdit::GrowingTextEdit(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setFrameShape(QFrame::NoFrame);
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(document(), &QTextDocument::contentsChanged, this, &GrowingTextEdit::fitHeight);
    fitHeight();
}

void GrowingTextEdit::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & Qt::ShiftModifier)) {
        emit submitted();
        return;
    }
    if (enter) {
        // A line break of its own, not the platform's soft break.
        insertPlainText(QStringLiteral("\n"));
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void GrowingTextEdit::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    // Wrapping changes with the width.
    fitHeight();
}

void GrowingTextEdit::fitHeight()
{
    int lines = 0;
    for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next())
        lines += block.layout() ? std::max(1, block.layout()->lineCount()) : 1;
    m_visibleLines = std::clamp(lines, 1, maximumLines);
    // Below the maximum everything is in view; a scroll bar would only eat the width.
    setVerticalScrollBarPolicy(lines > maximumLines ? Qt::ScrollBarAsNeeded
                                                    : Qt::ScrollBarAlwaysOff);
    const QMargins margins = contentsMargins();
    const int height = m_visibleLines * fontMetrics().lineSpacing()
        + 2 * int(document()->documentMargin()) + margins.top() + margins.bottom() + 2;
    if (height != this->height())
        setFixedHeight(height);
}

#include "Velto/editor/InlinePrompt.h"

#include "platform/L10n.h"

#include <QApplication>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QLineEdit>

InlinePrompt::InlinePrompt(bool forSelection, QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("inlinePrompt"));
    resize(340, 32);
    setStyleSheet(QStringLiteral("QFrame#inlinePrompt { background: palette(base); "
                                 "border: 1px solid palette(highlight); "
                                 "border-radius: 8px; }"));
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 38));
    shadow->setBlurRadius(8);
    shadow->setOffset(0, 0);
    setGraphicsEffect(shadow);

    m_field = new QLineEdit(this);
    m_field->setGeometry(8, 4, 324, 24);
    m_field->setPlaceholderText(
        L10n::text(forSelection ? QStringLiteral("editor.prompt.placeholderSelection")
                                : QStringLiteral("editor.prompt.placeholder")));
    m_field->setFrame(false);
    m_field->setStyleSheet(QStringLiteral("QLineEdit { border: none; background: transparent; }"));
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    QFont font = QApplication::font();
    font.setPixelSize(13);
    m_field->setFont(font);
    // Return and Escape are taken in the event filter: QLineEdit lets Return travel on to its
    // parents, which would put a line break into the document.
    m_field->installEventFilter(this);
}

bool InlinePrompt::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const bool escape = key == Qt::Key_Escape;
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (escape || enter) {
            if (event->type() == QEvent::ShortcutOverride)
                event->accept();
            else if (escape)
                emit dismissRequested();
            else
                emit submitRequested();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

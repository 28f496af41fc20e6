#pragma once

#include "core/ai/ChatMessage.h"

#include <QWidget>

class QLabel;

// One message of the chat: its text in a rounded bubble, user messages at the right, the
// assistant's at the left, each kept at least `margin` away from the other side.
class MessageBubble : public QWidget
{
    Q_OBJECT

public:
    explicit MessageBubble(const ChatMessage &message, QWidget *parent = nullptr);

    static constexpr int margin = 40;

    // The content shown verbatim, or "..." while it is empty (a reply not yet begun).
    void setContent(const QString &content);
    QLabel *label() const { return m_label; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // As wide as the text needs, wrapping only where the row is too narrow.
    void fitLabel();

    QLabel *m_label;
    bool m_keepsMargin = true;
};

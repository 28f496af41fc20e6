#pragma once

#include "Velto/chat/ChatController.h"

#include <QList>
#include <QPointer>
#include <QStackedWidget>

class Clock;
class ClockTimer;
class GrowingTextEdit;
class MessageBubble;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

// The AI assistant's side panel of an editor window: the action bar for the whole document, the
// conversation with the reply growing in its last bubble, the bar that applies a finished reply,
// and the message field. While the AI provider is not configured it shows only a notice with a
// way to the AI settings. All state lives in its ChatController.
class ChatView : public QStackedWidget
{
    Q_OBJECT

public:
    ChatView(WorkspaceState &workspace, ChatViewState &actions, ChatServices services,
             QWidget *parent = nullptr);
    ~ChatView() override;

    static constexpr int minimumWidth = 280;
    static constexpr int scrollDelayMs = 100;

    ChatController *controller() const { return m_controller; }

    // The parts, for tests.
    QWidget *notice() const { return m_notice; }
    QPushButton *openSettingsButton() const { return m_openSettings; }
    QWidget *conversation() const { return m_conversation; }
    const QList<QToolButton *> &actionButtons() const { return m_actionButtons; }
    QList<MessageBubble *> bubbles() const;
    // The bar that applies the offered reply; none while no reply is offered.
    QFrame *applyBar() const { return m_applyBar; }
    QPushButton *applyButton(const QString &key) const;
    GrowingTextEdit *inputField() const { return m_input; }
    QToolButton *sendButton() const { return m_send; }
    QScrollArea *messageList() const { return m_list; }

private:
    QWidget *buildNotice();
    QWidget *buildConversation();
    QWidget *buildActionBar();
    QWidget *buildInputRow();
    void showPage();
    void addBubble(int index);
    void updateLastBubble();
    void rebuildApplyBar();
    void updateControls();
    void scheduleScroll();
    void scrollToEnd();

    ChatController *m_controller;
    QWidget *m_notice = nullptr;
    QPushButton *m_openSettings = nullptr;
    QWidget *m_conversation = nullptr;
    QList<QToolButton *> m_actionButtons;
    QScrollArea *m_list = nullptr;
    QVBoxLayout *m_listLayout = nullptr;
    QList<QPointer<MessageBubble>> m_bubbles;
    QPointer<QFrame> m_applyBar;
    GrowingTextEdit *m_input = nullptr;
    QToolButton *m_send = nullptr;
    std::unique_ptr<Clock> m_ownClock; // when none was handed in
    std::unique_ptr<ClockTimer> m_scrollTimer;
};

#pragma once

#include "core/ai/AIAction.h"
#include "core/ai/AIClient.h"
#include "core/ai/ChatMessage.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class AIReplyStream;
class AISettings;
class ChatViewState;
class Clock;
class SettingsNavigation;
class WorkspaceState;

// What a chat panel works with: the settings and the navigation are required; without a client
// the panel talks through a new AIClient over the settings.
struct ChatServices
{
    AISettings *settings = nullptr;
    SettingsNavigation *navigation = nullptr;
    std::unique_ptr<AIClient> client;
    Clock *clock = nullptr; // the panel's delays; unset: Qt timers of its own
};

// The state and operations of a window's chat panel, without widgets: one conversation, the
// reply being received, the finished reply offered for the document, and the actions handed over
// from the editor. Nothing of it is stored; a panel built anew starts empty.
//
// One reply runs at a time and always goes into the last message. A new request while a reply
// streams stops that reply first (what arrived so far stays and is offered); whatever the
// stopped request still delivers is dropped. Destroying the controller aborts its request.
class ChatController : public QObject
{
    Q_OBJECT

public:
    using Services = ChatServices;

    // Takes an action already pending in actions at once.
    ChatController(WorkspaceState &workspace, ChatViewState &actions, Services services = {},
                   QObject *parent = nullptr);
    ~ChatController() override;

    static constexpr int excerptLength = 4000; // Characters of the document sent with a message
    static constexpr int historyLength = 10; // messages sent by a retry
    static constexpr int customTitleLength = 30; // Characters of a custom prompt in its bubble

    const QList<ChatMessage> &messages() const { return m_messages; }
    QString input() const { return m_input; }
    void setInput(const QString &input);
    bool isStreaming() const { return m_streaming; }
    const std::optional<QString> &pendingResult() const { return m_pendingResult; }
    // Whether the AI provider can be asked at all; otherwise the panel shows only its notice.
    bool isConfigured() const;
    bool isDocumentEmpty() const;
    // The action buttons work on a non-empty document while no reply streams.
    bool canRunDocumentActions() const { return !isDocumentEmpty() && !m_streaming; }
    // The send button stops a running reply, or sends a typed message.
    bool canSend() const { return m_streaming || !m_input.isEmpty(); }

    // An action handed over by the editor on its selection, with the custom action's prompt.
    void runAction(const QString &text, AIAction action,
                   const std::optional<QString> &customPrompt);
    // An action of the action bar on the whole document; nothing for an empty document or while
    // a reply streams.
    void runActionOnDocument(AIAction action);
    // Sends the typed message with an excerpt of the document. While a reply streams it stops
    // that reply first; an empty message then only stops.
    void send();
    // Asks again with the conversation so far, ending with a copy of the last user message.
    void retry();

    // The three ways to apply a finished reply. Each takes the offer away; none touches the
    // conversation.
    void replaceDocument(const QString &reply);
    void appendToDocument(const QString &reply);
    // Closes the open document (saving it first when modified) and shows the reply as a new,
    // unsaved one. When the save fails or is cancelled nothing changes and the offer stays.
    void newDocumentFromResult(const QString &reply);
    void discardResult();

    // Opens the settings window on its AI tab.
    void openAISettings();

signals:
    void messageAppended(int index);
    // The content of the last message changed (a reply growing, an error text).
    void lastMessageChanged();
    void streamingChanged(bool streaming);
    void pendingResultChanged();
    void inputChanged();
    void configuredChanged();
    void documentChanged();

private:
    void takePendingAction();
    void appendExchange(const QString &userContent);
    void startStream(std::optional<QString> prompt, std::optional<QString> systemPrompt);
    QCoro::Task<> receiveReply(quint64 generation, QList<ChatMessage> messages,
                               QString systemPrompt);
    void takeChunks();
    void stopReply();
    // Ends the current reply; with offer, a reply with text is offered for the document.
    void endReply(bool offer = true);
    void appendToLastMessage(const QString &text);
    void setLastMessage(const QString &content);
    void setStreaming(bool streaming);
    void setPendingResult(std::optional<QString> result);
    QCoro::Task<> replaceByNewDocument(QString reply);

    QPointer<WorkspaceState> m_workspace;
    QPointer<ChatViewState> m_actions;
    AISettings *m_settings;
    SettingsNavigation *m_navigation;
    std::unique_ptr<AIClient> m_client;

    QList<ChatMessage> m_messages;
    QString m_input;
    bool m_streaming = false;
    std::optional<QString> m_pendingResult;

    // Raised for every request and every stop: anything a request delivers under an older
    // number belongs to a reply that is over.
    quint64 m_generation = 0;
    std::unique_ptr<AIReplyStream> m_stream;
    bool m_closingForNewDocument = false;
};

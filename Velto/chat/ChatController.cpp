#include "Velto/chat/ChatController.h"

#include "Velto/model/ChatViewState.h"
#include "Velto/model/SettingsNavigation.h"
#include "Velto/model/WorkspaceState.h"
#include "core/ai/AIClient.h"
#include "core/ai/AIReplyStream.h"
#include "core/ai/AISettings.h"
#include "platform/Detached.h"
#include "platform/Graphemes.h"
#include "platform/L10n.h"
#include "platform/Text.h"

namespace {

// The first count Characters of text (all of it when shorter).
QString prefix(const QString &text, qint64 count)
{
    return text.left(graphemes::advance(text, 0, text.size(), count));
}

} // namespace

ChatController::ChatController(WorkspaceState &workspace, ChatViewState &actions, Services services,
                               QObject *parent)
    : QObject(parent)
    , m_workspace(&workspace)
    , m_actions(&actions)
    , m_settings(services.settings)
    , m_navigation(services.navigation)
    , m_client(services.client ? std::move(services.client)
                               : std::make_unique<AIClient>(*m_settings))
{
    Q_ASSERT(m_settings && m_navigation);
    for (auto changed : {&AISettings::providerChanged, &AISettings::apiKeyChanged})
        connect(m_settings, changed, this, &ChatController::configuredChanged);
    connect(&workspace, &WorkspaceState::textChanged, this, &ChatController::documentChanged);
    connect(&actions, &ChatViewState::pendingActionChanged, this,
            &ChatController::takePendingAction);
    takePendingAction();
}

// The stream and the client go with the controller, and with them their network requests.
ChatController::~ChatController() = default;

void ChatController::setInput(const QString &input)
{
    if (m_input == input)
        return;
    m_input = input;
    emit inputChanged();
}

bool ChatController::isConfigured() const
{
    return m_settings->isConfigured();
}

bool ChatController::isDocumentEmpty() const
{
    return !m_workspace || m_workspace->text().isEmpty();
}

void ChatController::takePendingAction()
{
    if (!m_actions)
        return;
    const std::optional<PendingAIAction> pending = m_actions->pendingAction();
    if (!pending)
        return;
    // Taken exactly once: cleared before it runs.
    m_actions->setPendingAction(std::nullopt);
    runAction(pending->selectedText, pending->action, pending->instruction);
}

void ChatController::runAction(const QString &text, AIAction action,
                               const std::optional<QString> &customPrompt)
{
    stopReply();
    QString prompt;
    QString title;
    if (action == AIAction::custom && customPrompt) {
        prompt = text.isEmpty() ? *customPrompt : *customPrompt + QStringLiteral("\n\n") + text;
        title = prefix(*customPrompt, customTitleLength);
    } else {
        prompt = AIActions::prompt(action, text);
        title = action == AIAction::custom ? QStringLiteral("Custom") : AIActions::title(action);
    }
    appendExchange(u'[' + title + u']');
    startStream(prompt, AIActions::systemPrompt(action));
}

void ChatController::runActionOnDocument(AIAction action)
{
    if (!canRunDocumentActions())
        return;
    appendExchange(u'[' + AIActions::title(action) + u']');
    startStream(AIActions::prompt(action, m_workspace->text()), AIActions::systemPrompt(action));
}

void ChatController::send()
{
    stopReply();
    if (trimmedSpacesAndTabs(m_input).isEmpty())
        return;
    const QString typed = m_input;
    setInput(QString());
    QString prompt = typed;
    const QString document = m_workspace ? m_workspace->text() : QString();
    if (!document.isEmpty()) {
        prompt += QStringLiteral("\n\n---\n") + L10n::text(QStringLiteral("chat.currentDoc"))
            + u'\n' + prefix(document, excerptLength);
    }
    appendExchange(typed);
    startStream(prompt, L10n::text(QStringLiteral("action.systemPrompt")));
}

void ChatController::retry()
{
    stopReply();
    setPendingResult(std::nullopt);
    for (qsizetype i = m_messages.size() - 1; i >= 0; --i) {
        if (m_messages.at(i).role() == ChatMessage::Role::user) {
            appendExchange(m_messages.at(i).content());
            startStream(std::nullopt, std::nullopt);
            return;
        }
    }
}

void ChatController::appendExchange(const QString &userContent)
{
    m_messages.append(ChatMessage(ChatMessage::Role::user, userContent));
    emit messageAppended(int(m_messages.size() - 1));
    m_messages.append(ChatMessage(ChatMessage::Role::assistant, QString()));
    emit messageAppended(int(m_messages.size() - 1));
}

void ChatController::startStream(std::optional<QString> prompt, std::optional<QString> systemPrompt)
{
    setPendingResult(std::nullopt);
    setStreaming(true);

    QList<ChatMessage> request;
    if (prompt) {
        request.append(ChatMessage(ChatMessage::Role::user, *prompt));
    } else {
        // The conversation without the empty reply just added, its last turns only.
        const QList<ChatMessage> earlier = m_messages.first(m_messages.size() - 1);
        request = earlier.mid(std::max<qsizetype>(0, earlier.size() - historyLength));
    }
    const quint64 generation = ++m_generation;
    runDetached(
        receiveReply(generation, std::move(request),
                     systemPrompt.value_or(L10n::text(QStringLiteral("chat.systemPrompt")))),
        QStringLiteral("Chat reply"));
}

QCoro::Task<> ChatController::receiveReply(quint64 generation, QList<ChatMessage> messages,
                                           QString systemPrompt)
{
    const QPointer<ChatController> self(this);
    AIStreamResult result = co_await m_client->stream(std::move(messages), std::move(systemPrompt));
    // Gone or stopped meanwhile: the result is dropped, which aborts its request.
    if (!self || generation != m_generation)
        co_return;
    if (!result.accepted()) {
        if (!m_messages.isEmpty() && result.error) {
            setLastMessage(L10n::format(QStringLiteral("chat.error"), {result.error->description}));
        }
        // An error is nothing to apply.
        endReply(false);
        co_return;
    }
    m_stream = std::move(result.stream);
    connect(m_stream.get(), &AIReplyStream::chunkAvailable, this, &ChatController::takeChunks);
    connect(m_stream.get(), &AIReplyStream::finished, this, &ChatController::takeChunks);
    takeChunks();
}

void ChatController::takeChunks()
{
    if (!m_stream)
        return;
    const QList<AIStreamChunk> chunks = m_stream->takeAvailable();
    for (const AIStreamChunk &chunk : chunks) {
        if (!chunk.text.isEmpty())
            appendToLastMessage(chunk.text);
        if (chunk.done) {
            // A reply broken off by an error is shown with the error, but nothing to apply.
            endReply(!chunk.failed);
            return;
        }
    }
    if (m_stream->isFinished() && !m_stream->hasAvailable())
        endReply();
}

void ChatController::stopReply()
{
    if (!m_streaming)
        return;
    if (m_stream)
        m_stream->abort();
    // A request still waiting for its head is the only one of this client.
    m_client->abortPendingRequests();
    endReply();
}

void ChatController::endReply(bool offer)
{
    ++m_generation;
    if (m_stream) {
        m_stream->disconnect(this);
        // This may run inside one of the stream's own signals.
        m_stream.release()->deleteLater();
    }
    if (offer && !m_messages.isEmpty() && !m_messages.last().content().isEmpty())
        setPendingResult(m_messages.last().content());
    setStreaming(false);
}

void ChatController::appendToLastMessage(const QString &text)
{
    if (m_messages.isEmpty())
        return;
    setLastMessage(m_messages.last().content() + text);
}

void ChatController::setLastMessage(const QString &content)
{
    m_messages.last().setContent(content);
    emit lastMessageChanged();
}

void ChatController::setStreaming(bool streaming)
{
    if (m_streaming == streaming)
        return;
    m_streaming = streaming;
    emit streamingChanged(streaming);
}

void ChatController::setPendingResult(std::optional<QString> result)
{
    if (m_pendingResult == result)
        return;
    m_pendingResult = std::move(result);
    emit pendingResultChanged();
}

void ChatController::replaceDocument(const QString &reply)
{
    if (m_workspace)
        m_workspace->editText(reply);
    setPendingResult(std::nullopt);
}

void ChatController::appendToDocument(const QString &reply)
{
    if (m_workspace)
        m_workspace->editText(m_workspace->text() + QStringLiteral("\n\n") + reply);
    setPendingResult(std::nullopt);
}

void ChatController::newDocumentFromResult(const QString &reply)
{
    // One close at a time: a second press while the save panel is up would close the document
    // the first one is about to fill.
    if (m_closingForNewDocument || !m_workspace)
        return;
    runDetached(replaceByNewDocument(reply), QStringLiteral("New document from a chat reply"));
}

QCoro::Task<> ChatController::replaceByNewDocument(QString reply)
{
    const QPointer<ChatController> self(this);
    const QPointer<WorkspaceState> workspace(m_workspace);
    m_closingForNewDocument = true;
    auto closing = workspace->closeFile();
    const bool closed = co_await closing;
    if (self)
        m_closingForNewDocument = false;
    // Not saved (cancelled or failed): the text stays, and so does the offer.
    if (!closed || !workspace)
        co_return;
    workspace->setText(reply);
    if (self && m_pendingResult == reply)
        setPendingResult(std::nullopt);
}

void ChatController::discardResult()
{
    setPendingResult(std::nullopt);
}

void ChatController::openAISettings()
{
    m_navigation->open(SettingsTab::ai);
}

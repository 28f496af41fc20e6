#pragma once

#include "core/ai/AIError.h"
#include "core/ai/AILineParser.h"
#include "core/ai/LineSplitter.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class AIReplyStream;
class QNetworkReply;

// Drives one provider response: decides at the response head whether the request was accepted,
// collects the body of a refusal, and turns the lines of an accepted body into chunks of its
// parent stream. It owns the network reply and aborts it when the stream is aborted or goes.
class AIHttpExchange : public QObject
{
    Q_OBJECT

public:
    // refusalName is the provider word of refusal texts ("Claude API", "OpenAI", "Ollama").
    AIHttpExchange(QNetworkReply *reply, AILineParser::Dialect dialect, QString refusalName,
                   AIReplyStream *stream);
    ~AIHttpExchange() override;

    // Whether the request was accepted or failed before any chunk.
    bool isHeadDecided() const { return m_phase != Phase::head && m_phase != Phase::refused; }
    // Set when the request failed before any chunk (refused, or a transport failure).
    std::optional<AIError> failure() const { return m_failure; }

    // A refused body is read until it holds more than this many characters.
    static constexpr int refusalTextLimit = 500;

    static QString refusalDescription(const QString &refusalName, int status, const QString &text);
    // The text of the chunk that ends a reply which failed while streaming.
    static QString errorChunkText(const QString &description);

signals:
    void headDecided();

private:
    enum class Phase {
        head, // waiting for the status
        refused, // reading the body of a refusal
        streaming, // accepted; lines become chunks
        done,
    };

    void onMetaDataChanged();
    void onReadyRead();
    void onFinished();
    void onAbortRequested();

    std::optional<int> status() const;
    void decide(std::optional<int> status);
    void consume(const QList<QByteArray> &lines);
    bool takeRefusalLine(const QByteArray &line);
    bool takeStreamLine(const QByteArray &line);
    void completeRefusal();
    void failBeforeHead(const AIError &error);
    void endReply();
    void failReply(const QString &description);
    bool push(const AIStreamChunk &chunk);
    void stopReply();
    AIError networkError() const;

    QPointer<QNetworkReply> m_reply;
    AIReplyStream *m_stream;
    AILineParser::Dialect m_dialect;
    QString m_refusalName;
    LineSplitter m_splitter;
    Phase m_phase = Phase::head;
    int m_status = 0;
    QString m_refusalText;
    std::optional<AIError> m_failure;
    // Qt reports our own abort and a transfer timeout with the same error code.
    bool m_abortedByUs = false;
};

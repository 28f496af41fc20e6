#pragma once

#include "core/ai/AIError.h"
#include "core/ai/AILineParser.h"
#include "core/ai/LineSplitter.h"
#include "core/ai/RefusalBody.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class AIReplyStream;
class AIRequestBody;
class QNetworkReply;

// Drives one provider response: decides at the response head whether the request was accepted,
// collects the body of a refusal, and turns the lines of an accepted body into chunks of its
// parent stream. It owns the network reply and aborts it when the stream is aborted or goes.
//
// A reply is complete only when the dialect's end marker arrived: Qt reports some connections
// that drop mid-reply as a normal end of the body, so a body that ends without the marker ends
// the reply with the error chunk of a lost connection.
class AIHttpExchange : public QObject
{
    Q_OBJECT

public:
    // refusalName is the provider word of refusal texts ("Claude API", "OpenAI", "Ollama").
    // body is the request's body device, if any: it may be rewound once an answer head is in.
    AIHttpExchange(QNetworkReply *reply, AIRequestBody *body, AILineParser::Dialect dialect,
                   QString refusalName, AIReplyStream *stream);
    ~AIHttpExchange() override;

    // Whether the request was accepted or failed before any chunk.
    bool isHeadDecided() const { return m_phase != Phase::head && m_phase != Phase::refused; }
    // Set when the request failed before any chunk (refused, or a transport failure).
    std::optional<AIError> failure() const { return m_failure; }

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
    void readRefusal();
    void consume(const QList<QByteArray> &lines);
    bool takeStreamLine(const QByteArray &line);
    void completeRefusal();
    void failBeforeHead(const AIError &error);
    void endReply();
    void failReply(const QString &description);
    bool push(const AIStreamChunk &chunk);
    void stopReply();
    AIError networkError() const;

    QPointer<QNetworkReply> m_reply;
    QPointer<AIRequestBody> m_body;
    AIReplyStream *m_stream;
    AILineParser::Dialect m_dialect;
    QString m_refusalName;
    LineSplitter m_splitter;
    Phase m_phase = Phase::head;
    int m_status = 0;
    RefusalBody m_refusal;
    std::optional<AIError> m_failure;
    // Qt reports our own abort and a transfer timeout with the same error code.
    bool m_abortedByUs = false;
};

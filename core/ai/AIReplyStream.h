#pragma once

#include "core/ai/AIStreamChunk.h"

#include "platform/AsyncQueue.h"
#include "platform/CancelToken.h"

#include <QList>
#include <QObject>

#include <qcoro/qcoroasyncgenerator.h>

// The chunks of one reply, in order, with an unbounded buffer: the producer never waits for the
// consumer. A reply ends with exactly one final chunk ("", done) unless it is aborted.
//
// The consumer owns the stream. abort() and destroying the stream both cancel abortToken() (for
// a network reply: abort the request); an aborted stream yields nothing more, no error chunk.
// Fakes drive a stream directly through push() and finish().
class AIReplyStream : public QObject
{
    Q_OBJECT

public:
    explicit AIReplyStream(QObject *parent = nullptr);
    ~AIReplyStream() override;

    // --- consumer side

    // The chunks as they arrive. Ends after the producer finished and every chunk was taken, at
    // once after abort(), or when the stream is destroyed. One consumer at a time.
    QCoro::AsyncGenerator<AIStreamChunk> chunks();
    // The chunks queued so far (for consumers driven by chunkAvailable()).
    QList<AIStreamChunk> takeAvailable();
    bool hasAvailable() const { return !m_queue.isEmpty(); }
    // The producer finished (or the stream was aborted); queued chunks may remain.
    bool isFinished() const { return m_queue.isFinished(); }
    bool isAborted() const { return m_abort.isCancelled(); }
    // Stops the reply: the producer is told to stop, queued chunks are dropped.
    void abort();

    // --- producer side

    // Ignored after finish() or abort().
    void push(const AIStreamChunk &chunk);
    void finish();
    // Cancelled once, by abort() or when the stream is destroyed unfinished: stop producing.
    CancelToken abortToken() const { return m_abort; }

signals:
    void chunkAvailable();
    // Emitted once, when the producer finished or the stream was aborted.
    void finished();

private:
    AsyncQueue<AIStreamChunk> m_queue;
    CancelToken m_abort;
};

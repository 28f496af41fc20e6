#include "core/ai/AIReplyStream.h"

#include "core/ai/SignalWait.h"

#include <QPointer>

namespace {

QCoro::AsyncGenerator<AIStreamChunk> generate(QPointer<AIReplyStream> stream)
{
    for (;;) {
        if (!stream || stream->isAborted())
            co_return;
        if (stream->hasAvailable()) {
            // One at a time: the consumer may abort or destroy the stream between chunks.
            const QList<AIStreamChunk> next = stream->takeAvailable();
            for (qsizetype i = 0; i < next.size(); ++i) {
                if (!stream || stream->isAborted())
                    co_return;
                co_yield AIStreamChunk(next.at(i));
            }
            continue;
        }
        if (stream->isFinished())
            co_return;
        co_await SignalWait(stream.data(), &AIReplyStream::chunkAvailable,
                            &AIReplyStream::finished);
    }
}

} // namespace

AIReplyStream::AIReplyStream(QObject *parent)
    : QObject(parent)
{
}

AIReplyStream::~AIReplyStream()
{
    if (!m_aborted && !m_finished) {
        m_aborted = true;
        emit abortRequested();
    }
}

QCoro::AsyncGenerator<AIStreamChunk> AIReplyStream::chunks()
{
    return generate(QPointer<AIReplyStream>(this));
}

QList<AIStreamChunk> AIReplyStream::takeAvailable()
{
    QList<AIStreamChunk> taken(m_queue.begin(), m_queue.end());
    m_queue.clear();
    return taken;
}

void AIReplyStream::abort()
{
    if (m_aborted)
        return;
    m_aborted = true;
    m_queue.clear();
    const bool wasFinished = std::exchange(m_finished, true);
    emit abortRequested();
    if (!wasFinished)
        emit finished();
}

void AIReplyStream::push(const AIStreamChunk &chunk)
{
    if (m_finished)
        return;
    m_queue.enqueue(chunk);
    emit chunkAvailable();
}

void AIReplyStream::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    emit finished();
}

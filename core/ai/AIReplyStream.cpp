#include "core/ai/AIReplyStream.h"

AIReplyStream::AIReplyStream(QObject *parent)
    : QObject(parent)
{
}

AIReplyStream::~AIReplyStream()
{
    if (!m_abort.isCancelled() && !m_queue.isFinished())
        m_abort.cancel();
}

QCoro::AsyncGenerator<AIStreamChunk> AIReplyStream::chunks()
{
    return m_queue.items();
}

QList<AIStreamChunk> AIReplyStream::takeAvailable()
{
    return m_queue.takeAll();
}

void AIReplyStream::abort()
{
    if (m_abort.isCancelled())
        return;
    m_queue.clear();
    const bool wasFinished = m_queue.isFinished();
    m_queue.finish();
    m_abort.cancel();
    if (!wasFinished)
        emit finished();
}

void AIReplyStream::push(const AIStreamChunk &chunk)
{
    if (m_queue.isFinished())
        return;
    m_queue.push(chunk);
    emit chunkAvailable();
}

void AIReplyStream::finish()
{
    if (m_queue.isFinished())
        return;
    m_queue.finish();
    emit finished();
}

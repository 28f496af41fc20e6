#include "platform/TextBuffers.h"

#include "platform/BackgroundPool.h"
#include "platform/ThreadPriority.h"

#include <QThreadPool>

#include <algorithm>

void TextBuffers::replace(QString &text, qsizetype position, qsizetype removed,
                          QStringView inserted)
{
    const qsizetype size = text.size() - removed + inserted.size();
    if (text.isDetached() || size < pooledSize) {
        text.replace(position, removed, inserted.data(), inserted.size());
        return;
    }
    takeIncoming();
    auto spare = std::find_if(m_spares.begin(), m_spares.end(), [size](const QString &buffer) {
        return buffer.isDetached() && buffer.capacity() >= size;
    });
    QString fresh;
    QString &target = spare != m_spares.end() ? *spare : fresh;
    if (spare == m_spares.end())
        fresh.reserve(capacityFor(size)); // room for the next edits
    target.resize(0); // keeps the capacity of a buffer no one else holds
    const QStringView old(text);
    target.append(old.left(position));
    target.append(inserted);
    target.append(old.mid(position + removed));
    text.swap(target); // target now holds the old version's buffer
    if (spare != m_spares.end()) {
        // Most recently used last: buffers still held elsewhere drift to the front and go.
        std::rotate(spare, spare + 1, m_spares.end());
        return;
    }
    m_spares.push_back(std::move(fresh));
    if (m_spares.size() > maxSpares)
        m_spares.erase(m_spares.begin());
}

void TextBuffers::prepare(qsizetype size)
{
    // Buffers made or kept for the text before serve this one too when they fit it without
    // holding much more memory than it needs (the same file reloaded, a text replaced by the API).
    takeIncoming();
    m_incoming.reset(); // buffers still on their way for an earlier text go with it
    std::erase_if(m_spares, [size](const QString &buffer) {
        return size < pooledSize || buffer.capacity() < size
            || buffer.capacity() > 2 * capacityFor(size);
    });
    if (size < pooledSize || m_spares.size() >= preparedSpares)
        return;
    m_incoming = std::make_shared<Incoming>();
    const size_t missing = preparedSpares - m_spares.size();
    background::start([incoming = m_incoming, capacity = capacityFor(size), missing] {
        lowerThreadPriority();
        for (size_t i = 0; i < missing; ++i) {
            if (incoming.use_count() == 1)
                return; // no longer wanted
            QString buffer(capacity, Qt::Uninitialized);
            std::fill_n(buffer.data(), buffer.size(), u'\0'); // maps its pages here
            buffer.resize(0);
            QMutexLocker lock(&incoming->mutex);
            incoming->buffers.push_back(std::move(buffer));
        }
    });
}

void TextBuffers::takeIncoming()
{
    if (!m_incoming)
        return;
    QMutexLocker lock(&m_incoming->mutex);
    for (QString &buffer : m_incoming->buffers) {
        if (m_spares.size() < maxSpares)
            m_spares.push_back(std::move(buffer));
    }
    m_incoming->buffers.clear();
}

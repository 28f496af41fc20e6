#include "platform/TextBuffers.h"

#include "platform/BackgroundPool.h"
#include "platform/ThreadPriority.h"

#include <QThreadPool>

#include <algorithm>
#include <cstring>

namespace {

// Writes units [from, to) of `old` with `removed` units at `position` replaced by `inserted`.
void writeEdited(QChar *out, qsizetype from, qsizetype to, QStringView old, qsizetype position,
                 qsizetype removed, QStringView inserted)
{
    const qsizetype insertedEnd = position + inserted.size();
    auto copy = [&](QStringView source, qsizetype sourceStart, qsizetype begin, qsizetype end) {
        begin = std::max(begin, from);
        end = std::min(end, to);
        if (begin < end)
            std::copy_n(source.data() + (begin - sourceStart), end - begin, out + begin);
    };
    copy(old, 0, 0, position);
    copy(inserted, position, position, insertedEnd);
    copy(old.mid(position + removed), insertedEnd, insertedEnd, to);
}

} // namespace

void TextBuffers::replace(QString &text, qsizetype position, qsizetype removed,
                          QStringView inserted)
{
    const qsizetype after = text.size() - position - removed; // units after the edit
    const qsizetype size = position + inserted.size() + after;
    // What each spare shares with the new text follows from what it shared with this one.
    const bool known = !m_last.isNull() && text.constData() == m_last.constData()
        && text.size() == m_last.size();
    const Ends edit {position, after};
    for (Spare &spare : m_spares) {
        spare.shared = known
            ? Ends {std::min(spare.shared.prefix, position), std::min(spare.shared.suffix, after)}
            : Ends {};
    }
    m_last = QString();
    if (text.isDetached() || size < pooledSize) {
        text.replace(position, removed, inserted.data(), inserted.size());
        if (size >= pooledSize)
            m_last = text;
        return;
    }
    takeIncoming();
    // The spare that needs the least written: the part it does not share, and its end moved.
    struct Use
    {
        qsizetype prefix = 0;
        qsizetype suffix = 0;
        qsizetype work = 0;
    };
    auto useOf = [size](const Spare &spare) {
        const qsizetype held = spare.buffer.size();
        const qsizetype prefix = std::min({spare.shared.prefix, held, size});
        const qsizetype suffix = std::min({spare.shared.suffix, held - prefix, size - prefix});
        return Use {prefix, suffix, size - prefix - suffix + (held != size ? suffix : 0)};
    };
    auto best = m_spares.end();
    Use use;
    for (auto it = m_spares.begin(); it != m_spares.end(); ++it) {
        if (!it->buffer.isDetached() || it->buffer.capacity() < size)
            continue;
        const Use candidate = useOf(*it);
        if (best == m_spares.end() || candidate.work < use.work) {
            best = it;
            use = candidate;
        }
    }
    const QStringView old(text);
    if (best != m_spares.end()) {
        QString &target = best->buffer;
        const qsizetype held = target.size();
        // The shared end moves to where it ends in the new text, within the buffer's capacity.
        if (size > held)
            target.resize(size);
        QChar *out = target.data();
        std::memmove(static_cast<void *>(out + size - use.suffix), out + held - use.suffix,
                     size_t(use.suffix) * sizeof(QChar));
        if (size < held)
            target.truncate(size);
        writeEdited(target.data(), use.prefix, size - use.suffix, old, position, removed, inserted);
        text.swap(target); // the spare now holds the old version
        best->shared = edit;
        // Most recently used last: buffers still held elsewhere drift to the front and go.
        std::rotate(best, best + 1, m_spares.end());
    } else {
        QString fresh;
        fresh.reserve(capacityFor(size)); // room for the next edits
        fresh.resize(size);
        writeEdited(fresh.data(), 0, size, old, position, removed, inserted);
        text.swap(fresh);
        m_spares.push_back({std::move(fresh), edit});
        if (m_spares.size() > maxSpares)
            m_spares.erase(m_spares.begin());
    }
    m_last = text;
}

void TextBuffers::prepare(qsizetype size)
{
    // Buffers made or kept for the text before serve this one too when they fit it without
    // holding much more memory than it needs (the same file reloaded, a text replaced by the API).
    takeIncoming();
    m_incoming.reset(); // buffers still on their way for an earlier text go with it
    m_last = QString();
    std::erase_if(m_spares, [size](const Spare &spare) {
        return size < pooledSize || spare.buffer.capacity() < size
            || spare.buffer.capacity() > 2 * capacityFor(size);
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
            m_spares.push_back({std::move(buffer), {}});
    }
    m_incoming->buffers.clear();
}

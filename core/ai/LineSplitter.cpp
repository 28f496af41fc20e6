#include "core/ai/LineSplitter.h"

LineSplitter::LineSplitter(qsizetype maxLineBytes)
    : m_maxLineBytes(maxLineBytes)
{
}

QList<QByteArray> LineSplitter::feed(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    if (m_overflowed)
        return lines;
    m_pending.append(bytes);

    qsizetype start = 0;
    qsizetype i = m_scanned;
    const qsizetype n = m_pending.size();
    while (i < n) {
        const char c = m_pending.at(i);
        if (c == '\n') {
            lines.append(m_pending.mid(start, i - start));
            start = ++i;
        } else if (c == '\r') {
            // Whether "\r" ends the line alone or with a following "\n" is known only once the
            // next byte is in.
            if (i + 1 >= n)
                break;
            lines.append(m_pending.mid(start, i - start));
            i += m_pending.at(i + 1) == '\n' ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    m_pending.remove(0, start);
    m_scanned = i - start;
    if (m_pending.size() > m_maxLineBytes) {
        m_overflowed = true;
        m_pending.clear();
        m_scanned = 0;
    }
    return lines;
}

QList<QByteArray> LineSplitter::finish()
{
    QList<QByteArray> lines;
    if (m_overflowed)
        return lines;
    QByteArray rest = std::exchange(m_pending, QByteArray());
    m_scanned = 0;
    if (rest.endsWith('\r'))
        rest.chop(1);
    if (!rest.isEmpty())
        lines.append(rest);
    return lines;
}

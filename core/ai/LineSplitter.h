#pragma once

#include <QByteArray>
#include <QList>

// Cuts a byte stream into lines as it arrives. A line ends at "\n", "\r\n" or a lone "\r"; the
// end is not part of the line. Lines stay bytes until they are complete, so a multi-byte UTF-8
// character split across network reads is decoded whole by the caller.
class LineSplitter
{
public:
    // A provider that never sends a line end must not grow the buffer without bound.
    static constexpr qsizetype defaultMaxLineBytes = 8 * 1024 * 1024;

    explicit LineSplitter(qsizetype maxLineBytes = defaultMaxLineBytes);

    // Appends bytes and returns the lines completed by them. After an overflow nothing more is
    // returned.
    QList<QByteArray> feed(const QByteArray &bytes);
    // The unterminated rest at the end of the input, if it is not empty.
    QList<QByteArray> finish();

    // Whether a pending line grew past the limit.
    bool overflowed() const { return m_overflowed; }

private:
    QByteArray m_pending;
    qsizetype m_scanned = 0;
    qsizetype m_maxLineBytes;
    bool m_overflowed = false;
};

#pragma once

#include "core/markdown/SourceRange.h"

#include <QByteArray>
#include <QStringView>

#include <optional>
#include <vector>

// The line table of a text being highlighted: where each line starts, in UTF-16 code units. Only
// LF ends a line here; a CR is an ordinary character, so in a CR LF pair the line ends at the LF.
//
// Source ranges count columns in UTF-8 bytes of a line; they are converted on exactly the bytes
// the parser read (MarkdownDocument::utf8), in which characters of one to three bytes take one
// UTF-16 unit and four-byte characters two.
class LineOffsets
{
public:
    // `utf8` must be the parser input made from `text`.
    LineOffsets(QStringView text, const QByteArray &utf8);

    // UTF-16 offset at which each line begins: 0, then one past every LF. A text ending in LF has
    // a last entry equal to its length.
    const std::vector<qint64> &starts() const { return m_starts; }

    // The text range of a half-open source range, or none when a line lies outside the table, or
    // the result would start before 0, end before its start or end past textLength.
    std::optional<TextRange> range(const SourceRange &range, qint64 textLength) const;

private:
    // UTF-16 units taken by the first `bytes` bytes of a line (clamped to the line's content).
    qint64 units(int line, qint64 bytes) const;
    qint64 unitsBeforeByte(qint64 byte) const;

    static constexpr int CheckpointShift = 4;

    QByteArray m_utf8;
    std::vector<qint64> m_starts;
    std::vector<qint64> m_byteStarts;
    std::vector<qint64> m_checkpoints; // UTF-16 units before every 16th byte
    qint64 m_textSize = 0;
    bool m_ascii = false;
};

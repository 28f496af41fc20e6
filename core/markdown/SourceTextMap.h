#pragma once

#include "core/markdown/SourceRange.h"

#include <QByteArray>

#include <optional>
#include <vector>

// Line table and UTF-8 → UTF-16 mapping over exactly the bytes the parser read. Lines end where
// the parser ends them: at LF, CR LF and a lone CR.
class SourceTextMap
{
public:
    explicit SourceTextMap(const QByteArray &utf8);

    int lineCount() const { return int(m_lineStarts.size()); }
    // Byte offsets of a 1-based line: its first byte, and the end of its content (before the
    // line terminator).
    qsizetype lineStart(int line) const { return m_lineStarts[size_t(line - 1)]; }
    qsizetype lineContentEnd(int line) const { return m_contentEnds[size_t(line - 1)]; }

    // Byte offset of a position; the column is clamped to the line's content so that no position
    // reaches into another line. None for a line outside the text or a column below 1.
    std::optional<qsizetype> byteOffset(SourcePosition position) const;
    // Column at which a line's content starts: after its blanks and up to `quoteMarkers` ">"
    // (a ">" beyond the block quotes around a block would have started a quote of its own). The
    // outermost quote sits in content that starts at `quoteColumn` (a list item's); a ">" after
    // four columns of blanks more than that (or than the marker before it) is text, as on a lazy
    // continuation line.
    int contentStartColumn(int line, int quoteMarkers, int quoteColumn = 1) const;
    // The column (tabs expanded) where the content of a list item whose marker starts at (line,
    // column) begins.
    int listItemContentColumn(int line, int column) const;
    // The column just after a line's last character other than a blank.
    int trimmedEndColumn(int line) const;

    // UTF-16 code units taken by the bytes before `byteOffset`: characters of one to three bytes
    // count one unit, four-byte characters two.
    qsizetype utf16Offset(qsizetype byteOffset) const;
    // The same for a byte offset known to lie on `line`: direct on lines of ASCII only.
    qsizetype utf16Offset(int line, qsizetype byteOffset) const;

private:
    static constexpr int CheckpointShift = 5; // a checkpoint every 32 bytes

    QByteArray m_utf8;
    std::vector<qsizetype> m_lineStarts;
    std::vector<qsizetype> m_contentEnds;
    std::vector<qsizetype> m_lineUtf16Starts;
    std::vector<bool> m_lineIsAscii;
    std::vector<qsizetype> m_checkpoints; // UTF-16 offset at every checkpoint byte
};

#include "core/markdown/SourceTextMap.h"

#include <algorithm>

namespace {

inline int unitsOf(unsigned char byte)
{
    if ((byte & 0xC0) == 0x80)
        return 0; // continuation byte
    return byte >= 0xF0 ? 2 : 1;
}

} // namespace

SourceTextMap::SourceTextMap(const QByteArray &utf8)
    : m_utf8(utf8)
{
    const auto *data = reinterpret_cast<const unsigned char *>(m_utf8.constData());
    const qsizetype size = m_utf8.size();
    constexpr qsizetype checkpointMask = (qsizetype(1) << CheckpointShift) - 1;

    m_checkpoints.reserve(size_t(size >> CheckpointShift) + 1);
    m_lineStarts.push_back(0);
    m_lineUtf16Starts.push_back(0);
    bool ascii = true;
    qsizetype units = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if ((i & checkpointMask) == 0)
            m_checkpoints.push_back(units);
        const unsigned char c = data[i];
        units += unitsOf(c);
        if (c >= 0x80) {
            ascii = false;
            continue;
        }
        if (c != '\n' && c != '\r')
            continue;
        m_contentEnds.push_back(i);
        m_lineIsAscii.push_back(ascii);
        if (c == '\r' && i + 1 < size && data[i + 1] == '\n') {
            ++i;
            if ((i & checkpointMask) == 0)
                m_checkpoints.push_back(units);
            ++units;
        }
        m_lineStarts.push_back(i + 1);
        m_lineUtf16Starts.push_back(units);
        ascii = true;
    }
    m_contentEnds.push_back(size);
    m_lineIsAscii.push_back(ascii);
    if ((size & checkpointMask) == 0)
        m_checkpoints.push_back(units);
}

std::optional<qsizetype> SourceTextMap::byteOffset(SourcePosition position) const
{
    if (position.line < 1 || position.line > lineCount() || position.column < 1)
        return std::nullopt;
    const qsizetype start = lineStart(position.line);
    return std::min(start + qsizetype(position.column - 1), lineContentEnd(position.line));
}

qsizetype SourceTextMap::utf16Offset(qsizetype byteOffset) const
{
    byteOffset = std::clamp<qsizetype>(byteOffset, 0, m_utf8.size());
    const qsizetype checkpoint = byteOffset >> CheckpointShift;
    qsizetype units = m_checkpoints[size_t(checkpoint)];
    const auto *data = reinterpret_cast<const unsigned char *>(m_utf8.constData());
    for (qsizetype i = checkpoint << CheckpointShift; i < byteOffset; ++i)
        units += unitsOf(data[i]);
    return units;
}

qsizetype SourceTextMap::utf16Offset(int line, qsizetype byteOffset) const
{
    if (line < 1 || line > lineCount() || !m_lineIsAscii[size_t(line - 1)])
        return utf16Offset(byteOffset);
    const qsizetype start = lineStart(line);
    return m_lineUtf16Starts[size_t(line - 1)]
        + std::clamp<qsizetype>(byteOffset - start, 0, lineContentEnd(line) - start);
}

int SourceTextMap::contentStartColumn(int line, int quoteMarkers, int quoteColumn) const
{
    if (line < 1 || line > lineCount())
        return 1;
    const qsizetype begin = lineStart(line);
    const qsizetype end = lineContentEnd(line);
    qsizetype i = begin;
    int column = 0; // tabs advance to the next multiple of four
    int indentFrom = quoteColumn - 1; // where the blanks before a marker are counted from
    while (true) {
        while (i < end && (m_utf8[i] == ' ' || m_utf8[i] == '\t')) {
            column = m_utf8[i] == '\t' ? (column / 4 + 1) * 4 : column + 1;
            ++i;
        }
        // Four columns of blanks before it, or too few to be inside the quote's container, make
        // a ">" text (of a lazy continuation line).
        if (quoteMarkers == 0 || i >= end || m_utf8[i] != '>' || column < indentFrom
            || column - indentFrom >= 4)
            break;
        ++i;
        ++column;
        --quoteMarkers;
        // One blank after a marker belongs to it.
        indentFrom = column + (i < end && (m_utf8[i] == ' ' || m_utf8[i] == '\t') ? 1 : 0);
    }
    return int(i - begin + 1);
}

int SourceTextMap::listItemContentColumn(int line, int column) const
{
    if (line < 1 || line > lineCount() || column < 1)
        return 1;
    const qsizetype begin = lineStart(line);
    const qsizetype end = lineContentEnd(line);
    // In columns, as the content start it is compared with: tabs advance to a multiple of four.
    int width = 0;
    auto advance = [this, &width](qsizetype at) {
        width = m_utf8[at] == '\t' ? (width / 4 + 1) * 4 : width + 1;
    };
    qsizetype i = begin;
    for (; i < std::min(begin + column - 1, end); ++i)
        advance(i);
    for (; i < end && m_utf8[i] >= '0' && m_utf8[i] <= '9'; ++i)
        advance(i);
    if (i < end)
        advance(i++); // the bullet, "." or ")"
    const int marker = width;
    while (i < end && (m_utf8[i] == ' ' || m_utf8[i] == '\t'))
        advance(i++);
    // One to four columns of blanks belong to the marker; after more, or none, the content starts
    // one on.
    const int blanks = width - marker;
    return marker + (blanks >= 1 && blanks <= 4 && i < end ? blanks : 1) + 1;
}

int SourceTextMap::trimmedEndColumn(int line) const
{
    if (line < 1 || line > lineCount())
        return 1;
    const qsizetype begin = lineStart(line);
    qsizetype end = lineContentEnd(line);
    while (end > begin && (m_utf8[end - 1] == ' ' || m_utf8[end - 1] == '\t'))
        --end;
    return int(end - begin + 1);
}

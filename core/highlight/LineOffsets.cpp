#include "core/highlight/LineOffsets.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

inline int unitsOf(unsigned char byte)
{
    if ((byte & 0xC0) == 0x80)
        return 0; // continuation byte
    return byte >= 0xF0 ? 2 : 1; // a four-byte character is a surrogate pair
}

// UTF-16 units of eight UTF-8 bytes at once: every byte but continuation bytes (10xxxxxx) counts
// one, and the lead byte of a four-byte character (11110xxx) one more.
inline int unitsOf8(const unsigned char *bytes)
{
    std::uint64_t w;
    std::memcpy(&w, bytes, 8);
    constexpr std::uint64_t high = 0x8080808080808080ull;
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    const std::uint64_t continuation = (w & ~(w << 1) & high) >> 7;
    const std::uint64_t fourByteLead = (w & (w << 1) & (w << 2) & (w << 3) & high) >> 7;
    // One bit per byte: a multiplication adds them up in the top byte.
    return 8 - int((continuation * ones) >> 56) + int((fourByteLead * ones) >> 56);
}

} // namespace

LineOffsets::LineOffsets(QStringView text, const QByteArray &utf8)
    : m_utf8(utf8)
    , m_textSize(text.size())
{
    m_starts.push_back(0);
    for (qsizetype i = text.indexOf(u'\n'); i >= 0; i = text.indexOf(u'\n', i + 1))
        m_starts.push_back(i + 1);

    const char *data = m_utf8.constData();
    const qsizetype size = m_utf8.size();
    m_byteStarts.reserve(m_starts.size());
    m_byteStarts.push_back(0);
    for (const char *p = data;
         (p = static_cast<const char *>(std::memchr(p, '\n', size_t(data + size - p))));) {
        ++p;
        m_byteStarts.push_back(p - data);
    }

    // A text of ASCII only needs no conversion; otherwise a checkpoint every 16 bytes bounds the
    // work of each conversion.
    m_ascii = size == text.size();
    if (m_ascii)
        return;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    constexpr qsizetype step = qsizetype(1) << CheckpointShift;
    m_checkpoints.reserve(size_t(size / step) + 2);
    qint64 count = 0;
    qsizetype i = 0;
    for (; i + step <= size; i += step) {
        m_checkpoints.push_back(count);
        for (qsizetype k = 0; k < step; k += 8)
            count += unitsOf8(bytes + i + k);
    }
    m_checkpoints.push_back(count);
}

qint64 LineOffsets::unitsBeforeByte(qint64 byte) const
{
    const qint64 checkpoint = byte >> CheckpointShift;
    qint64 count = m_checkpoints[size_t(checkpoint)];
    const auto *bytes = reinterpret_cast<const unsigned char *>(m_utf8.constData());
    for (qint64 i = checkpoint << CheckpointShift; i < byte; ++i)
        count += unitsOf(bytes[i]);
    return count;
}

qint64 LineOffsets::units(int line, qint64 bytes) const
{
    // The UTF-8 line table can be shorter than the UTF-16 one only if the two disagree, which the
    // parser input never does; answer "no units" rather than read past it.
    if (size_t(line) > m_byteStarts.size())
        return 0;
    const size_t index = size_t(line - 1);
    const qint64 begin = m_byteStarts[index];
    const qint64 contentEnd
        = index + 1 < m_byteStarts.size() ? m_byteStarts[index + 1] - 1 : m_utf8.size();
    const qint64 end = std::clamp(begin + bytes, begin, contentEnd);
    if (m_ascii)
        return end - begin;
    // A line whose bytes and units agree in number is ASCII.
    const qint64 unitStart = m_starts[index];
    const qint64 unitEnd = index + 1 < m_starts.size() ? m_starts[index + 1] - 1 : m_textSize;
    if (unitEnd - unitStart == contentEnd - begin)
        return end - begin;
    return unitsBeforeByte(end) - unitStart;
}

std::optional<TextRange> LineOffsets::range(const SourceRange &range, qint64 textLength) const
{
    const qint64 lines = qint64(m_starts.size());
    if (range.lower.line < 1 || range.upper.line < 1 || range.lower.line > lines
        || range.upper.line > lines)
        return std::nullopt;
    const qint64 start = m_starts[size_t(range.lower.line - 1)]
        + units(range.lower.line, qint64(range.lower.column) - 1);
    const qint64 end = m_starts[size_t(range.upper.line - 1)]
        + units(range.upper.line, qint64(range.upper.column) - 1);
    if (start < 0 || end < start || end > textLength)
        return std::nullopt;
    return TextRange {qsizetype(start), qsizetype(end)};
}

#include "platform/Text.h"

#include <unicode/unorm2.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

const UNormalizer2 *nfdInstance()
{
    UErrorCode status = U_ZERO_ERROR;
    static const UNormalizer2 *const nfd = unorm2_getNFDInstance(&status);
    return nfd;
}

UChar32 codePointAt(const char16_t *units, qsizetype size, qsizetype i)
{
    if (QChar::isHighSurrogate(units[i]) && i + 1 < size && QChar::isLowSurrogate(units[i + 1]))
        return QChar::surrogateToUcs4(units[i], units[i + 1]);
    return units[i];
}

UChar32 codePointBefore(const char16_t *units, qsizetype i)
{
    if (QChar::isLowSurrogate(units[i - 1]) && i >= 2 && QChar::isHighSurrogate(units[i - 2]))
        return QChar::surrogateToUcs4(units[i - 2], units[i - 1]);
    return units[i - 1];
}

// Common prefix and suffix lengths of two texts, together never longer than the shorter one.
// Whole blocks are compared with memcmp first: this runs over multi-megabyte texts on every
// revision.
qsizetype commonPrefix(const char16_t *a, const char16_t *b, qsizetype limit)
{
    constexpr qsizetype block = 512;
    qsizetype i = 0;
    while (i + block <= limit && std::memcmp(a + i, b + i, block * sizeof(char16_t)) == 0)
        i += block;
    while (i < limit && a[i] == b[i])
        ++i;
    return i;
}

qsizetype commonSuffix(const char16_t *aEnd, const char16_t *bEnd, qsizetype limit)
{
    constexpr qsizetype block = 512;
    qsizetype i = 0;
    while (i + block <= limit
           && std::memcmp(aEnd - i - block, bEnd - i - block, block * sizeof(char16_t)) == 0)
        i += block;
    while (i < limit && aEnd[-1 - i] == bEnd[-1 - i])
        ++i;
    return i;
}

// The NFD form of a text, produced piece by piece so that two texts can be compared without
// normalizing either of them whole. A piece ends before a character that has a normalization
// boundary before it (a starter that no mark reorders across), so the pieces' forms concatenate
// to the form of the whole. Pieces ICU already finds in NFD are passed through uncopied.
class DecomposedPieces
{
public:
    explicit DecomposedPieces(QStringView text)
        : m_units(text.utf16())
        , m_size(text.size())
    {
    }

    // The units not yet consumed of the current piece; empty at the end of the text.
    std::u16string_view current()
    {
        while (m_current.empty() && m_next < m_size)
            decomposeNextPiece();
        return m_current;
    }
    void consume(std::size_t count) { m_current.remove_prefix(count); }

private:
    void decomposeNextPiece()
    {
        constexpr qsizetype pieceSize = 4096;
        const UNormalizer2 *nfd = nfdInstance();
        const qsizetype start = m_next;
        qsizetype end = std::min(m_size, start + pieceSize);
        while (end < m_size
               && (QChar::isLowSurrogate(m_units[end])
                   || !unorm2_hasBoundaryBefore(nfd, codePointAt(m_units, m_size, end))))
            ++end;
        m_next = end;
        const auto *piece = reinterpret_cast<const UChar *>(m_units + start);
        const auto length = int32_t(end - start);
        UErrorCode status = U_ZERO_ERROR;
        if (unorm2_spanQuickCheckYes(nfd, piece, length, &status) == length && U_SUCCESS(status)) {
            m_current = std::u16string_view(m_units + start, std::size_t(length));
            return;
        }
        // A decomposition is at most three times as long as what it replaces; a miss is retried.
        m_buffer.resize(std::size_t(length) * 3 + 8);
        status = U_ZERO_ERROR;
        const int32_t written
            = unorm2_normalize(nfd, piece, length, reinterpret_cast<UChar *>(m_buffer.data()),
                               int32_t(m_buffer.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            m_buffer.resize(std::size_t(written));
            status = U_ZERO_ERROR;
            unorm2_normalize(nfd, piece, length, reinterpret_cast<UChar *>(m_buffer.data()),
                             int32_t(m_buffer.size()), &status);
        }
        if (U_FAILURE(status)) { // out of memory: the piece as it is
            m_current = std::u16string_view(m_units + start, std::size_t(length));
            return;
        }
        m_current = std::u16string_view(m_buffer.data(), std::size_t(written));
    }

    const char16_t *m_units;
    qsizetype m_size;
    qsizetype m_next = 0;
    std::u16string m_buffer;
    std::u16string_view m_current;
};

} // namespace

bool canonicallyEqual(const QString &a, const QString &b)
{
    qsizetype prefix = 0;
    qsizetype suffix = 0;
    return canonicallyEqual(a, b, prefix, suffix);
}

bool canonicallyEqual(const QString &a, const QString &b, qsizetype &knownPrefix,
                      qsizetype &knownSuffix)
{
    const char16_t *ua = QStringView(a).utf16();
    const char16_t *ub = QStringView(b).utf16();
    const qsizetype limit = std::min(a.size(), b.size());
    if (ua == ub && a.size() == b.size()) {
        knownPrefix = knownSuffix = limit;
        return true;
    }

    // Only the part where the texts differ needs normalizing (a keystroke in a long document
    // must not normalize all of it). The prefix is cut after a character that no later mark
    // reorders across, the suffix before one that interacts with nothing before it; NFD of the
    // whole is then NFD of the prefix, of the middle and of the suffix in a row.
    const UNormalizer2 *nfd = nfdInstance();
    const qsizetype from = std::clamp<qsizetype>(knownPrefix, 0, limit);
    qsizetype prefix = from + commonPrefix(ua + from, ub + from, limit - from);
    knownPrefix = prefix;
    if (prefix == a.size() && prefix == b.size()) {
        knownSuffix = limit;
        return true;
    }
    const qsizetype to = std::clamp<qsizetype>(knownSuffix, 0, limit - prefix);
    qsizetype suffix
        = to + commonSuffix(ua + a.size() - to, ub + b.size() - to, limit - prefix - to);
    knownSuffix = suffix;
    // A cut between the halves of a surrogate pair would split a character.
    if (prefix > 0 && QChar::isHighSurrogate(ua[prefix - 1]))
        --prefix;
    while (prefix > 0 && !unorm2_hasBoundaryAfter(nfd, codePointBefore(ua, prefix)))
        prefix -= QChar::requiresSurrogates(codePointBefore(ua, prefix)) ? 2 : 1;
    const qsizetype suffixStartA = a.size() - suffix;
    if (suffix > 0 && QChar::isLowSurrogate(ua[suffixStartA]))
        --suffix;
    while (suffix > 0
           && !unorm2_hasBoundaryBefore(nfd, codePointAt(ua, a.size(), a.size() - suffix)))
        suffix -= QChar::requiresSurrogates(codePointAt(ua, a.size(), a.size() - suffix)) ? 2 : 1;

    return canonicallyEquivalent(QStringView(a).mid(prefix, a.size() - prefix - suffix),
                                 QStringView(b).mid(prefix, b.size() - prefix - suffix));
}

bool canonicallyEquivalent(QStringView a, QStringView b)
{
    if (a == b)
        return true;
    // Decomposition never empties a non-empty text.
    if (a.isEmpty() || b.isEmpty())
        return false;
    DecomposedPieces left(a);
    DecomposedPieces right(b);
    for (;;) {
        const std::u16string_view x = left.current();
        const std::u16string_view y = right.current();
        if (x.empty() || y.empty())
            return x.empty() && y.empty();
        const std::size_t n = std::min(x.size(), y.size());
        if (x.substr(0, n) != y.substr(0, n))
            return false;
        left.consume(n);
        right.consume(n);
    }
}

bool isWellFormedUtf16(QStringView text)
{
    const qsizetype n = text.size();
    const char16_t *units = text.utf16();
    for (qsizetype i = 0; i < n; ++i) {
        if (!QChar::isSurrogate(units[i]))
            continue;
        if (!QChar::isHighSurrogate(units[i]) || i + 1 == n || !QChar::isLowSurrogate(units[i + 1]))
            return false;
        ++i;
    }
    return true;
}

QString trimmedSpacesAndTabs(const QString &text)
{
    const auto isSpace
        = [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; };
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isSpace(text.at(start)))
        ++start;
    while (end > start && isSpace(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

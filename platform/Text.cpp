#include "platform/Text.h"

#include <unicode/unorm2.h>

#include <algorithm>
#include <string>

namespace {
// No character below U+0300 has a canonical decomposition or is a combining mark, so text made
// only of such code units compares correctly as it is.
bool belowCombining(QStringView s)
{
    for (const QChar c : s)
        if (c.unicode() >= 0x0300)
            return false;
    return true;
}

std::u16string decomposed(QStringView s)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2 *nfd = unorm2_getNFDInstance(&status);
    std::u16string out(std::size_t(s.size()) * 2 + 8, u'\0');
    for (;;) {
        status = U_ZERO_ERROR;
        const int32_t length
            = unorm2_normalize(nfd, reinterpret_cast<const UChar *>(s.utf16()), int32_t(s.size()),
                               reinterpret_cast<UChar *>(out.data()), int32_t(out.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(std::size_t(length));
            continue;
        }
        if (U_FAILURE(status))
            return std::u16string(s.utf16(), std::size_t(s.size()));
        out.resize(std::size_t(length));
        return out;
    }
}
} // namespace

bool canonicallyEqual(const QString &a, const QString &b)
{
    if (a == b)
        return true;

    // Only the part where the texts differ needs normalizing (a keystroke in a long document
    // must not normalize all of it). Decomposition works character by character and reordering
    // stays within runs of combining marks, so the texts may be cut next to an ASCII character:
    // the common prefix up to just after one, the common suffix from one on.
    const qsizetype limit = std::min(a.size(), b.size());
    qsizetype prefix = 0;
    while (prefix < limit && a.at(prefix) == b.at(prefix))
        ++prefix;
    while (prefix > 0 && a.at(prefix - 1).unicode() >= 0x80)
        --prefix;
    qsizetype suffix = 0;
    while (suffix < limit - prefix && a.at(a.size() - 1 - suffix) == b.at(b.size() - 1 - suffix))
        ++suffix;
    while (suffix > 0 && a.at(a.size() - suffix).unicode() >= 0x80)
        --suffix;

    const QStringView middleA = QStringView(a).mid(prefix, a.size() - prefix - suffix);
    const QStringView middleB = QStringView(b).mid(prefix, b.size() - prefix - suffix);
    if (belowCombining(middleA) && belowCombining(middleB))
        return false;
    return canonicallyEquivalent(middleA, middleB);
}

bool canonicallyEquivalent(QStringView a, QStringView b)
{
    return a == b || decomposed(a) == decomposed(b);
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

#include "core/model/TextMetrics.h"

#include "platform/Graphemes.h"

#include <algorithm>

namespace {

// A cluster separates words when its first scalar has the White_Space property; the line breaks
// U+000A–U+000D, U+0085, U+2028 and U+2029 all have it, and QChar::isSpace covers exactly that set.
bool isSeparatorAt(const QString &text, qsizetype index)
{
    const QChar c = text.at(index);
    char32_t scalar = c.unicode();
    if (c.isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate())
        scalar = QChar::surrogateToUcs4(c, text.at(index + 1));
    return QChar::isSpace(scalar);
}

// Calls visit(start, end, isSeparator) for every cluster of the text.
template<typename Visit> void forEachCluster(const QString &text, Visit &&visit)
{
    qsizetype start = 0;
    graphemes::forEachBoundary(text, 0, text.size(), [&](qsizetype end) {
        visit(start, end, isSeparatorAt(text, start));
        start = end;
    });
}

} // namespace

QStringList splitWords(const QString &text)
{
    QStringList words;
    qsizetype wordStart = -1;
    forEachCluster(text, [&](qsizetype start, qsizetype, bool separator) {
        if (separator) {
            if (wordStart >= 0)
                words.append(text.mid(wordStart, start - wordStart));
            wordStart = -1;
        } else if (wordStart < 0) {
            wordStart = start;
        }
    });
    if (wordStart >= 0)
        words.append(text.mid(wordStart));
    return words;
}

namespace TextMetrics {

qsizetype wordCount(const QString &text)
{
    qsizetype count = 0;
    bool inWord = false;
    forEachCluster(text, [&](qsizetype, qsizetype, bool separator) {
        if (!separator && !inWord)
            ++count;
        inWord = !separator;
    });
    return count;
}

qsizetype characterCount(const QString &text)
{
    return graphemes::countClusters(text);
}

QString readingTime(qsizetype wordCount)
{
    return QString::number(std::max<qsizetype>(1, wordCount / 200)) + QStringLiteral(" min");
}

} // namespace TextMetrics

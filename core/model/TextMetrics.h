#pragma once

#include <QString>
#include <QStringList>

// The words of a text: maximal non-empty runs of characters (extended grapheme clusters) none of
// which is whitespace or a line break.
QStringList splitWords(const QString &text);

namespace TextMetrics {

// The number of words, as splitWords counts them, without building the list.
qsizetype wordCount(const QString &text);

// The number of extended grapheme clusters ("\r\n" and "e\u0301" count as one).
qsizetype characterCount(const QString &text);

// Minutes at 200 words a minute, at least 1, as "<n> min".
QString readingTime(qsizetype wordCount);

} // namespace TextMetrics

#pragma once

#include <QJsonArray>
#include <QString>

#include <optional>

// Text operations behind the document endpoints, on plain strings. Columns count user-perceived
// characters (extended grapheme clusters); offsets returned are UTF-16 positions.
namespace documenttext {

// The UTF-16 offset of a 0-based line and grapheme column. Lines end at '\n'; a '\r' before it
// belongs to the line end, so "end of line" is before "\r\n". A column past the line's end means
// its end; a line past the last means the end of the text.
qsizetype insertionOffset(const QString &text, int line, int column);

// Every literal, case-sensitive, non-overlapping occurrence replaced; an empty pattern changes
// nothing.
QString replacePlain(const QString &text, const QString &pattern, const QString &replacement);

// Every match of the ICU pattern replaced by the template ("$" + digits inserts a group, "\"
// escapes the next character, any other "$" is itself). Nothing when the pattern does not
// compile, the template names a missing group or matching runs out of time.
std::optional<QString> replaceRegex(const QString &text, const QString &pattern,
                                    const QString &replacementTemplate);

// At most 100 hits as {"line", "match"} (plain) or {"column": 0, "line", "match"} (regex); an
// invalid pattern searches plainly.
QJsonArray search(const QString &text, const QString &query, bool regex);

// The block between an opening "---\n" and the first "\n---\n" after it, or nothing.
std::optional<QString> frontMatter(const QString &text);

} // namespace documenttext

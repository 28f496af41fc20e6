#include "Velto/api/DocumentText.h"

#include "platform/Graphemes.h"
#include "platform/RegularExpression.h"

#include <QJsonObject>

namespace documenttext {

namespace {

constexpr int maxSearchHits = 100;

// Counts '\n' in [from, to) and moves `from` to `to`.
qsizetype advanceLines(const QString &text, qsizetype &from, qsizetype to, qsizetype line)
{
    for (qsizetype i = from; i < to; ++i)
        if (text[i] == u'\n')
            ++line;
    from = to;
    return line;
}

} // namespace

qsizetype insertionOffset(const QString &text, int line, int column)
{
    qsizetype start = 0;
    for (int l = 0; l < line; ++l) {
        const qsizetype newline = text.indexOf(u'\n', start);
        if (newline < 0)
            return text.size();
        start = newline + 1;
    }
    qsizetype end = text.indexOf(u'\n', start);
    if (end < 0)
        end = text.size();
    if (end > start && text[end - 1] == u'\r')
        --end;
    // A line break ends every Character and nothing looks back across it, so the line content
    // segments alone exactly as inside the whole text.
    return graphemes::advance(text, start, end, column);
}

QString replacePlain(const QString &text, const QString &pattern, const QString &replacement)
{
    if (pattern.isEmpty())
        return text; // QString::replace would insert between every character
    QString result = text;
    result.replace(pattern, replacement, Qt::CaseSensitive);
    return result;
}

namespace {

QString icuTemplate(const QString &replacementTemplate)
{
    // In the API's templates only "$" + digits names a group and "\" escapes; every other "$"
    // ("US$ 5", "$x", a final "$") is a dollar sign, which ICU would refuse or read as a name.
    QString out;
    out.reserve(replacementTemplate.size() + 8);
    for (qsizetype i = 0; i < replacementTemplate.size(); ++i) {
        const QChar c = replacementTemplate[i];
        const bool hasNext = i + 1 < replacementTemplate.size();
        const QChar next = hasNext ? replacementTemplate[i + 1] : QChar();
        if (c == u'\\' && hasNext) {
            out += c;
            out += next;
            ++i;
        } else if (c == u'\\' || (c == u'$' && !(next >= u'0' && next <= u'9'))) {
            out += u'\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::optional<QString> replaceRegex(const QString &text, const QString &pattern,
                                    const QString &replacementTemplate)
{
    const auto re = RegularExpression::compile(pattern);
    if (!re)
        return std::nullopt;
    return re->replaceAll(text, icuTemplate(replacementTemplate));
}

QJsonArray search(const QString &text, const QString &query, bool regex)
{
    QJsonArray results;
    if (query.isEmpty())
        return results;
    qsizetype scanned = 0;
    qsizetype line = 0;
    if (regex) {
        if (const auto re = RegularExpression::compile(query)) {
            re->forEachMatch(text, [&](qsizetype start, qsizetype end) {
                line = advanceLines(text, scanned, start, line);
                results.append(
                    QJsonObject {{QStringLiteral("line"), line},
                                 {QStringLiteral("column"), 0},
                                 {QStringLiteral("match"), text.mid(start, end - start)}});
                return results.size() < maxSearchHits;
            });
            return results;
        }
    }
    qsizetype from = 0;
    while (results.size() < maxSearchHits) {
        const qsizetype at = text.indexOf(query, from, Qt::CaseSensitive);
        if (at < 0)
            break;
        line = advanceLines(text, scanned, at, line);
        results.append(QJsonObject {{QStringLiteral("line"), line},
                                    {QStringLiteral("match"), text.mid(at, query.size())}});
        from = at + query.size();
    }
    return results;
}

std::optional<QString> frontMatter(const QString &text)
{
    if (!text.startsWith(QLatin1String("---\n")))
        return std::nullopt;
    const qsizetype close = text.indexOf(QLatin1String("\n---\n"), 4);
    if (close < 0)
        return std::nullopt;
    return text.mid(4, close - 4);
}

} // namespace documenttext

#include "Velto/api/DocumentText.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

namespace documenttext {

namespace {

constexpr int maxSearchHits = 100;

QRegularExpression compile(const QString &pattern)
{
    // Unicode-aware \w, \d, \s and \b, as users of other regex engines expect.
    return QRegularExpression(pattern, QRegularExpression::UseUnicodePropertiesOption);
}

// Counts '\n' in [from, to) and moves `from` to `to`.
qsizetype advanceLines(const QString &text, qsizetype &from, qsizetype to, qsizetype line)
{
    for (qsizetype i = from; i < to; ++i)
        if (text[i] == u'\n')
            ++line;
    from = to;
    return line;
}

QString expandTemplate(const QString &tmpl, const QRegularExpressionMatch &match, int groups)
{
    QString out;
    for (qsizetype i = 0; i < tmpl.size(); ++i) {
        const QChar c = tmpl[i];
        if (c == u'\\' && i + 1 < tmpl.size()) {
            out += tmpl[++i];
            continue;
        }
        if (c == u'$' && i + 1 < tmpl.size() && tmpl[i + 1].isDigit()
            && tmpl[i + 1].unicode() < 128) {
            // The first digit always belongs to the reference; further digits only while the
            // number still names an existing group ("$10" with one group is group 1, then "0").
            int group = tmpl[++i].unicode() - '0';
            while (i + 1 < tmpl.size() && tmpl[i + 1].unicode() >= '0'
                   && tmpl[i + 1].unicode() <= '9') {
                const int next = group * 10 + (tmpl[i + 1].unicode() - '0');
                if (next > groups)
                    break;
                group = next;
                ++i;
            }
            if (group <= groups)
                out += match.captured(group);
            continue;
        }
        out += c;
    }
    return out;
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
    if (column <= 0 || end == start)
        return start;
    // '\n' always ends a grapheme cluster, so walking the line alone finds the same boundaries
    // as walking the whole text.
    const QString content = text.mid(start, end - start);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, content);
    qsizetype position = 0;
    for (int c = 0; c < column; ++c) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        position = next;
    }
    return start + position;
}

QString replacePlain(const QString &text, const QString &pattern, const QString &replacement)
{
    if (pattern.isEmpty())
        return text; // QString::replace would insert between every character
    QString result = text;
    result.replace(pattern, replacement, Qt::CaseSensitive);
    return result;
}

std::optional<QString> replaceRegex(const QString &text, const QString &pattern,
                                    const QString &replacementTemplate)
{
    const QRegularExpression re = compile(pattern);
    if (!re.isValid())
        return std::nullopt;
    const int groups = re.captureCount();
    QString out;
    qsizetype last = 0;
    QRegularExpressionMatchIterator it = re.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        out += expandTemplate(replacementTemplate, m, groups);
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

QJsonArray search(const QString &text, const QString &query, bool regex)
{
    QJsonArray results;
    if (query.isEmpty())
        return results;
    qsizetype scanned = 0;
    qsizetype line = 0;
    if (regex) {
        const QRegularExpression re = compile(query);
        if (re.isValid()) {
            QRegularExpressionMatchIterator it = re.globalMatch(text);
            while (it.hasNext() && results.size() < maxSearchHits) {
                const QRegularExpressionMatch m = it.next();
                line = advanceLines(text, scanned, m.capturedStart(), line);
                results.append(QJsonObject {{QStringLiteral("line"), line},
                                            {QStringLiteral("column"), 0},
                                            {QStringLiteral("match"), m.captured(0)}});
            }
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

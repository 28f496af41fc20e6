#include "NaiveTextDiff.h"

#include "support/IcuOracle.h"

namespace naive {

QStringList characters(const QString &text)
{
    return oracle::characters(text);
}

static bool same(const QString &a, const QString &b)
{
    return a == b
        || a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

QList<EditOp> diff(const QString &oldText, const QString &newText)
{
    if (oldText == newText)
        return {};
    if (oldText.isEmpty())
        return {EditOp::insert(0, newText)};
    const QStringList a = characters(oldText);
    if (newText.isEmpty())
        return {EditOp::deletion(0, a.size())};
    const QStringList b = characters(newText);
    const qsizetype m = std::min(a.size(), b.size());
    qsizetype p = 0;
    while (p < m && same(a[p], b[p]))
        ++p;
    qsizetype s = 0;
    while (s < m - p && same(a[a.size() - 1 - s], b[b.size() - 1 - s]))
        ++s;
    QList<EditOp> ops;
    const qsizetype d = a.size() - p - s;
    const qsizetype i = b.size() - p - s;
    if (d > 0)
        ops.append(EditOp::deletion(p, d));
    if (i > 0)
        ops.append(EditOp::insert(p, b.mid(p, i).join(QString())));
    return ops;
}

} // namespace naive

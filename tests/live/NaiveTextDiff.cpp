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

QString apply(const QList<EditOp> &ops, const QString &text, bool *fits)
{
    QStringList c = characters(text);
    bool allFit = true;
    for (const EditOp &op : ops) {
        const qint64 size = c.size();
        if (op.op == EditOpKind::Delete) {
            const qint64 n = op.len.value_or(0);
            if (op.pos >= 0 && n > 0 && op.pos <= size && n <= size - op.pos)
                c.remove(op.pos, n);
            else
                allFit = false;
        } else if (op.text && !op.text->isEmpty()) {
            allFit = allFit && op.pos >= 0 && op.pos <= size;
            const qint64 at = std::clamp<qint64>(op.pos, 0, size);
            const QStringList inserted = characters(*op.text);
            for (qsizetype k = 0; k < inserted.size(); ++k)
                c.insert(at + k, inserted[k]);
        }
    }
    if (fits)
        *fits = allFit;
    return c.join(QString());
}

} // namespace naive

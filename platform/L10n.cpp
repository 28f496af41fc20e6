#include "platform/L10n.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

const QHash<QString, QString> &L10n::table()
{
    static const QHash<QString, QString> merged = [] {
        QHash<QString, QString> t;
        const QDir dir(QStringLiteral(":/i18n/de"));
        for (const QString &name :
             dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
            for (auto it = o.begin(); it != o.end(); ++it)
                t.insert(it.key(), it.value().toString());
        }
        return t;
    }();
    return merged;
}

QString L10n::text(const QString &key)
{
    const auto &t = table();
    const auto it = t.constFind(key);
    return it == t.constEnd() ? key : *it;
}

bool L10n::has(const QString &key)
{
    return table().contains(key);
}

QStringList L10n::keys()
{
    return table().keys();
}

QString L10n::format(const QString &key, const QVariantList &args)
{
    return formatString(text(key), args);
}

QString L10n::formatString(const QString &format, const QVariantList &args)
{
    QString out;
    out.reserve(format.size() + 16);
    qsizetype next = 0;
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = format.at(i);
        if (c != u'%' || i + 1 >= n) {
            out += c;
            continue;
        }
        qsizetype j = i + 1;
        if (format.at(j) == u'%') {
            out += u'%';
            i = j;
            continue;
        }
        // Optional position "N$".
        qsizetype index = -1;
        qsizetype k = j;
        while (k < n && format.at(k).isDigit())
            ++k;
        if (k > j && k < n && format.at(k) == u'$') {
            index = format.mid(j, k - j).toLongLong() - 1;
            j = k + 1;
        }
        // Length modifiers and the conversion.
        while (j < n && (format.at(j) == u'l' || format.at(j) == u'h' || format.at(j) == u'q'))
            ++j;
        if (j >= n) {
            out += format.mid(i);
            break;
        }
        const QChar conv = format.at(j);
        if (conv != u'@' && conv != u'd' && conv != u'i' && conv != u'u' && conv != u's') {
            out += format.mid(i, j - i + 1);
            i = j;
            continue;
        }
        const qsizetype argIndex = index >= 0 ? index : next++;
        if (argIndex >= 0 && argIndex < args.size()) {
            const QVariant &v = args.at(argIndex);
            if (conv == u'@' || conv == u's')
                out += v.toString();
            else
                out += QString::number(v.toLongLong());
        }
        i = j;
    }
    return out;
}

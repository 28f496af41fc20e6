#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>

// The German interface texts, addressed by key. Every area keeps its keys in its own JSON table
// under resources/i18n/de/; they are merged at first use. A key without a text reads as itself.
class L10n
{
public:
    static QString text(const QString &key);

    // text(key) used as a printf-style format: %lld, %ld, %d, %@, %% and positional %1$@.
    static QString format(const QString &key, const QVariantList &args);
    // The same formatting on a literal format string.
    static QString formatString(const QString &format, const QVariantList &args);

    // Whether the table has a text for the key.
    static bool has(const QString &key);
    // All keys of the table (tests check that the keys the code uses are present).
    static QStringList keys();

private:
    static const QHash<QString, QString> &table();
};

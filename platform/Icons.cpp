#include "platform/Icons.h"

#include <QFile>
#include <QHash>

namespace {
QString iconPath(const QString &name)
{
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}
} // namespace

bool Icons::exists(const QString &name)
{
    return !name.isEmpty() && QFile::exists(iconPath(name));
}

QIcon Icons::symbol(const QString &name)
{
    static QHash<QString, QIcon> cache;
    const auto it = cache.constFind(name);
    if (it != cache.constEnd())
        return *it;
    QIcon icon;
    if (exists(name))
        icon = QIcon(iconPath(name));
    cache.insert(name, icon);
    return icon;
}

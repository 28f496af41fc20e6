#include "Velto/sync/LocalSyncFolder.h"

#include "platform/Defaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QStandardPaths>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString knownFilesKey = u"sync.knownFiles"_s;

bool isExcludedFolder(const QString &name)
{
    static const QSet<QString> names {u"node_modules"_s, u".git"_s, u".build"_s, u"DerivedData"_s,
                                      u"__pycache__"_s};
    return names.contains(name);
}

void collect(const QString &root, const QString &folder, QList<StructureFileEntry> &out)
{
    const QFileInfoList items = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QFileInfo &item : items) {
        if (item.isDir()) {
            if (!item.isSymLink() && !isExcludedFolder(item.fileName()))
                collect(root, item.filePath(), out);
            continue;
        }
        // A link is not a file of the folder; it may lead anywhere.
        if (!item.isFile() || item.isSymLink())
            continue;
        const QString relative = item.filePath().mid(root.size() + 1);
        const QDateTime modified = item.lastModified();
        StructureFileEntry entry(relative, item.size(), LocalSyncFolder::contentType(relative));
        entry.modified_at = (modified.isValid() ? modified : QDateTime::currentDateTime())
                                .toUTC()
                                .toString(Qt::ISODate);
        out.append(entry);
    }
}

} // namespace

QList<StructureFileEntry> LocalSyncFolder::entries(const QString &folderPath)
{
    QList<StructureFileEntry> out;
    const QString root = QDir::cleanPath(folderPath);
    if (QFileInfo(root).isDir())
        collect(root, root, out);
    return out;
}

QString LocalSyncFolder::contentType(const QString &relativePath)
{
    const QString extension = QFileInfo(relativePath).suffix().toLower();
    if (extension == "md"_L1 || extension == "markdown"_L1 || extension == "mdown"_L1)
        return u"text/markdown"_s;
    if (extension == "txt"_L1)
        return u"text/plain"_s;
    if (extension == "json"_L1)
        return u"application/json"_s;
    return u"application/octet-stream"_s;
}

bool LocalSyncFolder::moveToTrash(const QString &path)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome))
        return false;
    return QFile::moveToTrash(path);
}

QSet<QString> LocalSyncFolder::knownFiles(const Defaults &defaults)
{
    QSet<QString> paths;
    for (const QJsonValue &v : defaults.array(knownFilesKey).value_or(QJsonArray())) {
        if (v.isString())
            paths.insert(v.toString());
    }
    return paths;
}

void LocalSyncFolder::setKnownFiles(Defaults &defaults, const QSet<QString> &paths)
{
    QStringList sorted(paths.begin(), paths.end());
    std::sort(sorted.begin(), sorted.end());
    defaults.set(knownFilesKey, QJsonArray::fromStringList(sorted));
}

void LocalSyncFolder::addKnownFile(Defaults &defaults, const QString &relativePath)
{
    QSet<QString> paths = knownFiles(defaults);
    if (paths.contains(relativePath))
        return;
    paths.insert(relativePath);
    setKnownFiles(defaults, paths);
}

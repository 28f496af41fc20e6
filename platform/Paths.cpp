#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>

QString pathOf(const QUrl &url)
{
    QString p = url.isLocalFile() ? url.toLocalFile() : url.path();
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    return p;
}

bool isInside(const QString &filePath, const QString &folderPath)
{
    if (folderPath.isEmpty())
        return false;
    const QString prefix = folderPath.endsWith(u'/') ? folderPath : folderPath + u'/';
    return filePath.startsWith(prefix) && filePath.size() > prefix.size();
}

std::optional<QString> relativePathInside(const QString &filePath, const QString &folderPath)
{
    if (!isInside(filePath, folderPath))
        return std::nullopt;
    const qsizetype cut = folderPath.endsWith(u'/') ? folderPath.size() : folderPath.size() + 1;
    return filePath.mid(cut);
}

bool isSafeRelativePath(const QString &relativePath)
{
    if (relativePath.isEmpty() || relativePath.startsWith(u'/'))
        return false;
    if (relativePath.contains(QChar(0)) || relativePath.contains(u'\\'))
        return false;
    const QStringList segments = relativePath.split(u'/');
    for (const QString &s : segments) {
        if (s.isEmpty() || s.startsWith(u'.'))
            return false;
    }
    return true;
}

std::optional<QString> resolveInsideFolder(const QString &folderPath, const QString &relativePath)
{
    if (folderPath.isEmpty() || !isSafeRelativePath(relativePath))
        return std::nullopt;
    const QStringList segments = relativePath.split(u'/');
    const QString root = QDir::cleanPath(folderPath);
    const QString target = root + u'/' + segments.join(u'/');

    // Walk up to the deepest part that exists and make sure its real location is still inside
    // the folder's real location; a symbolic link on the way must not lead out.
    const QString realRoot = QFileInfo(root).canonicalFilePath();
    if (realRoot.isEmpty())
        return target; // the folder does not exist yet: nothing can lead out of it
    QString probe = target;
    while (probe.size() > root.size()) {
        const QFileInfo info(probe);
        if (info.exists() || info.isSymLink()) {
            const QString real = info.canonicalFilePath();
            if (real.isEmpty() || (real != realRoot && !isInside(real, realRoot)))
                return std::nullopt;
            break;
        }
        probe = QFileInfo(probe).path();
    }
    return target;
}

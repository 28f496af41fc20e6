#include "platform/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace {
QMutex dirMutex;
QString overrideDir;

QString defaultWebDir()
{
    if (QCoreApplication::instance()) {
        const QString beside
            = QCoreApplication::applicationDirPath() + QStringLiteral("/resources/web");
        if (QFileInfo(beside).isDir())
            return beside;
        const QString shared
            = QCoreApplication::applicationDirPath() + QStringLiteral("/../share/velto/web");
        if (QFileInfo(shared).isDir())
            return QDir::cleanPath(shared);
    }
    return QStringLiteral(VELTO_BUILD_RESOURCE_DIR "/web");
}
} // namespace

QString Resources::webDir()
{
    QMutexLocker lock(&dirMutex);
    return overrideDir.isEmpty() ? defaultWebDir() : overrideDir;
}

void Resources::setWebDir(const QString &dir)
{
    QMutexLocker lock(&dirMutex);
    overrideDir = dir;
}

QString Resources::webPath(const QString &fileName)
{
    return webDir() + u'/' + fileName;
}

std::optional<QByteArray> Resources::readWebFile(const QString &fileName)
{
    if (fileName.isEmpty() || fileName.contains(u'/'))
        return std::nullopt;
    QFile f(webPath(fileName));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

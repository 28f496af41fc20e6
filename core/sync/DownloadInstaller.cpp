#include "core/sync/DownloadInstaller.h"

#include "core/sync/SyncFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>

QString DownloadInstaller::privateFolder()
{
    // Destroyed (and removed) at exit; QTemporaryDir creates it with mode 0700. Empty when it
    // could not be created.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/velto-sync-XXXXXX"));
    return dir.isValid() ? dir.path() : QString();
}

QString DownloadInstaller::newTemporaryPath()
{
    return privateFolder() + QStringLiteral("/download-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".part");
}

// Across file systems the bytes go into a sibling temporary file of the destination first
// (QSaveFile: written, synced, renamed).
void DownloadInstaller::install(const QString &temporary, const QString &destination)
{
    const QFileInfo target(destination);
    const QString parent = target.absolutePath();
    if (!QFileInfo::exists(parent) && !QDir().mkpath(parent))
        throw SyncFailure::file(SyncFailure::FileOperation::createFolder, parent,
                                QString::fromLocal8Bit(strerror(errno)));
    const QByteArray from = QFile::encodeName(temporary);
    const QByteArray to = QFile::encodeName(target.absoluteFilePath());
    if (std::rename(from.constData(), to.constData()) == 0)
        return;
    const int error = errno;
    if (error != EXDEV)
        throw SyncFailure::file(SyncFailure::FileOperation::move, destination,
                                QString::fromLocal8Bit(strerror(error)));
    QFile in(temporary);
    QSaveFile out(target.absoluteFilePath());
    out.setDirectWriteFallback(false);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        throw SyncFailure::file(SyncFailure::FileOperation::move, destination, out.errorString());
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size())
            throw SyncFailure::file(SyncFailure::FileOperation::write, destination,
                                    out.errorString());
    }
    if (!out.commit())
        throw SyncFailure::file(SyncFailure::FileOperation::write, destination, out.errorString());
    QFile::remove(temporary);
}

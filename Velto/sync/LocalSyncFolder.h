#pragma once

#include "core/sync/SyncModels.h"

#include <QList>
#include <QSet>
#include <QString>

class Defaults;

// The local side of a sync folder: the listing that goes up to the backend, and the record of
// the files that a remote structure has listed ("sync.knownFiles"), the only files a remote
// change may remove here.
class LocalSyncFolder
{
public:
    // Every regular file below the folder, recursively, in name order: hidden names and the
    // build and version-control folders are left out, folders behind symbolic links are not
    // entered. Empty when the folder cannot be read.
    static QList<StructureFileEntry> entries(const QString &folderPath);
    static QString contentType(const QString &relativePath);

    // Moves a file to the user's trash, the data folder the trash lives in made first (without it
    // Qt would put the "trash" into the working directory). False when it could not be moved.
    static bool moveToTrash(const QString &path);

    // The known-files record.
    static QSet<QString> knownFiles(const Defaults &defaults);
    static void setKnownFiles(Defaults &defaults, const QSet<QString> &paths);
    static void addKnownFile(Defaults &defaults, const QString &relativePath);
};

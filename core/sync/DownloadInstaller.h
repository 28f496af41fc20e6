#pragma once

#include <QString>

// Where downloads are written while they arrive, and how they are put in place.
class DownloadInstaller
{
public:
    // The private folder (0700) that downloads are written into before they are moved; empty
    // when it could not be created (downloads then fail before anything is requested).
    static QString privateFolder();
    // A new file name inside the private folder.
    static QString newTemporaryPath();
    // Moves a downloaded file to its destination in one step (creating missing parent folders):
    // the destination holds either its old content or the new one, never nothing. Throws
    // SyncFailure (File) and leaves the temporary file to the caller on failure.
    static void install(const QString &temporary, const QString &destination);
};

#pragma once

#include "core/model/FileNode.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

// The tree of a folder as the sidebar shows it.
class FolderScan
{
public:
    // Folders first, then names in the user's collation without regard to case; hidden entries
    // and build/version-control names left out; eight levels at most. Reads no shared state and
    // may run on any thread; every error yields an empty list at the level where it happened.
    static QList<FileNode> scan(const QUrl &folder, int depth = 0);
    // Entry names never listed (files and folders alike, exact and with case).
    static const QSet<QString> &excludedNames();
};

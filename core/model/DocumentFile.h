#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Reading and writing the document of a workspace.
class DocumentFile
{
public:
    // The whole file as strict UTF-8. Only regular files: a FIFO or a device would block or never
    // end. An initial byte order mark stays in the text, so saving writes the same bytes back.
    static std::optional<QString> read(const QUrl &url);
    // A plain write over the existing file (no atomic replace), so the file keeps its inode, hard
    // links, owner and permissions. False when anything failed.
    static bool write(const QUrl &url, const QString &text);
};

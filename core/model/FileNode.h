#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One file or directory of a scanned folder tree. A directory carries its entries (possibly an
// empty list); a file carries no list at all, and the two are never equal.
struct FileNode
{
    FileNode() = default;
    FileNode(QUrl url, QString name, bool isDirectory,
             std::optional<QList<FileNode>> children = std::nullopt);

    // Identity is the location alone; equality looks at everything.
    QUrl id() const { return url; }

    QUrl url;
    QString name; // the last path component as the scan found it
    bool isDirectory = false;
    std::optional<QList<FileNode>> children;

    friend bool operator==(const FileNode &a, const FileNode &b);
    friend bool operator!=(const FileNode &a, const FileNode &b) { return !(a == b); }
};

// Consistent with operator==: names hash by their canonical decomposition.
size_t qHash(const FileNode &node, size_t seed = 0);

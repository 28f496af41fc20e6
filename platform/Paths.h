#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The local path of a file URL without a trailing slash ("/" stays "/").
QString pathOf(const QUrl &url);

// Whether filePath lies inside folderPath (a prefix of folder path + "/"; the root holds all).
bool isInside(const QString &filePath, const QString &folderPath);

// The path relative to folderPath when filePath lies inside it, else nothing.
std::optional<QString> relativePathInside(const QString &filePath, const QString &folderPath);

// The segment rules of resolveInsideFolder on their own, for places that have a relative path
// from the network but no folder yet: not empty, not absolute, no NUL or backslash, no empty,
// "." or ".." segment, no hidden segment (leading ".").
bool isSafeRelativePath(const QString &relativePath);

// The one guard for paths that arrive from the network: resolves a relative path inside a
// folder. Refused (nothing returned): empty paths, absolute paths, NUL or backslash characters,
// empty, "." or ".." segments, hidden segments (leading "."), and paths whose existing part leads
// out of the folder through a symbolic link. Returns the absolute path inside the folder.
std::optional<QString> resolveInsideFolder(const QString &folderPath, const QString &relativePath);

#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The SHA-256 digest as 64 lowercase hexadecimal digits, the form the backend uses.
QString sha256Hex(const QByteArray &data);
// The same for a file's content, read in pieces; nothing when the file cannot be read.
std::optional<QString> sha256HexOfFile(const QString &path);

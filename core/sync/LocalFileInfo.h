#pragma once

#include <QDateTime>
#include <QString>

// A local file of the sync folder as the sync core describes it.
struct LocalFileInfo
{
    LocalFileInfo() = default;
    LocalFileInfo(QString relativePath, qint64 size, QString sha256, QDateTime modifiedDate)
        : relativePath(std::move(relativePath))
        , size(size)
        , sha256(std::move(sha256))
        , modifiedDate(std::move(modifiedDate))
    {
    }

    QString relativePath;
    qint64 size = 0;
    QString sha256; // lowercase hex digest of the content
    QDateTime modifiedDate;

    bool operator==(const LocalFileInfo &) const = default;
};

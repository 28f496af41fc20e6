#pragma once

#include <QByteArray>
#include <QString>

// The one-part multipart/form-data body in which a file is uploaded.
class MultipartUpload
{
public:
    // The content type for a file name extension (without the dot), case-insensitive.
    static QString mimeType(const QString &extension);
    // A new boundary: an upper-case UUID without braces.
    static QByteArray newBoundary();
    // The body for one file; quotes and line breaks in the file name are percent-escaped so they
    // cannot end the header.
    static QByteArray body(const QByteArray &boundary, const QString &fileName,
                           const QString &contentType, const QByteArray &content);

    struct FileContent
    {
        QByteArray bytes;
        QString error; // set when reading failed
        bool tooLarge = false;
    };
    // The whole file, unless it holds more than cap bytes (also when it grows while read).
    static FileContent readFile(const QString &path, qint64 cap);
};

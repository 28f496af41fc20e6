#include "core/sync/MultipartUpload.h"

#include <QFile>
#include <QUuid>

namespace {

QByteArray escapeMultipartFileName(const QString &name)
{
    QByteArray out;
    const QByteArray utf8 = name.toUtf8();
    out.reserve(utf8.size());
    for (char c : utf8) {
        if (c == '"')
            out += "%22";
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out += c;
    }
    return out;
}

} // namespace

QString MultipartUpload::mimeType(const QString &extension)
{
    const QString e = extension.toLower();
    if (e == u"md" || e == u"markdown" || e == u"mdown")
        return QStringLiteral("text/markdown");
    if (e == u"txt")
        return QStringLiteral("text/plain");
    if (e == u"pdf")
        return QStringLiteral("application/pdf");
    if (e == u"jpg" || e == u"jpeg")
        return QStringLiteral("image/jpeg");
    if (e == u"png")
        return QStringLiteral("image/png");
    if (e == u"heic")
        return QStringLiteral("image/heic");
    if (e == u"json")
        return QStringLiteral("application/json");
    if (e == u"html" || e == u"htm")
        return QStringLiteral("text/html");
    if (e == u"css")
        return QStringLiteral("text/css");
    return QStringLiteral("application/octet-stream");
}

QByteArray MultipartUpload::newBoundary()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
}

QByteArray MultipartUpload::body(const QByteArray &boundary, const QString &fileName,
                                 const QString &contentType, const QByteArray &content)
{
    QByteArray body;
    body.reserve(content.size() + 256);
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"file\"; filename=\""
        + escapeMultipartFileName(fileName) + "\"\r\n";
    body += "Content-Type: " + contentType.toUtf8() + "\r\n\r\n";
    body += content;
    body += "\r\n--" + boundary + "--\r\n";
    return body;
}

MultipartUpload::FileContent MultipartUpload::readFile(const QString &path, qint64 cap)
{
    FileContent result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    if (file.size() > cap) {
        result.tooLarge = true;
        return result;
    }
    // Read to the end, or one byte past the cap so that a file growing meanwhile is still caught.
    // In pieces of the size the file has left: read(n) sets aside all n bytes first, which for the
    // cap would be hundreds of megabytes for every small file.
    while (result.bytes.size() <= cap) {
        const qint64 left = qMax(file.size() - result.bytes.size(), qint64(0));
        const QByteArray piece = file.read(qMin(cap + 1 - result.bytes.size(), left + 1));
        if (piece.isEmpty())
            break;
        result.bytes += piece;
    }
    if (result.bytes.size() > cap) {
        result.tooLarge = true;
        result.bytes.clear();
    } else if (file.error() != QFileDevice::NoError) {
        result.error = file.errorString();
        result.bytes.clear();
    }
    return result;
}

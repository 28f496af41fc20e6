#include "Velto/editor/FileDrops.h"

#include <QFileInfo>
#include <QMimeData>
#include <QStringList>

const QSet<QString> &filedrops::imageExtensions()
{
    static const QSet<QString> extensions {
        QStringLiteral("png"), QStringLiteral("jpg"),  QStringLiteral("jpeg"),
        QStringLiteral("gif"), QStringLiteral("svg"),  QStringLiteral("webp"),
        QStringLiteral("bmp"), QStringLiteral("tiff"), QStringLiteral("ico")};
    return extensions;
}

QString filedrops::markdownFor(const QList<QUrl> &fileUrls)
{
    QStringList lines;
    for (const QUrl &url : fileUrls) {
        QString path = url.toLocalFile();
        // A folder's URL ends in "/", which would leave it without a name.
        while (path.size() > 1 && path.endsWith(u'/'))
            path.chop(1);
        const QFileInfo info(path);
        if (imageExtensions().contains(info.suffix().toLower()))
            lines.append(QStringLiteral("![") + info.completeBaseName() + QStringLiteral("](")
                         + path + u')');
        else
            lines.append(u'[' + info.fileName() + QStringLiteral("](") + path + u')');
    }
    return lines.join(u'\n');
}

QList<QUrl> filedrops::localFileUrls(const QMimeData *mime)
{
    QList<QUrl> files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

class QMimeData;

// Files dropped on the editor become Markdown: an image reference for an image, a link for any
// other file or folder.
namespace filedrops {

// File name extensions, lower case, that a dropped file is shown as an image for.
const QSet<QString> &imageExtensions();
// The Markdown for the files: one link or image reference per file, joined by "\n".
QString markdownFor(const QList<QUrl> &fileUrls);
// The local files a drag carries; empty for anything else (text, remote URLs).
QList<QUrl> localFileUrls(const QMimeData *mime);

} // namespace filedrops

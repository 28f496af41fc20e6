#include "platform/Bookmarks.h"

#include "platform/Paths.h"

#include <QFile>
#include <QList>

#include <sys/stat.h>

namespace {

const QByteArray magic = QByteArrayLiteral("VBM1");

struct Identity
{
    quint64 device = 0;
    quint64 inode = 0;
};

std::optional<Identity> identityOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return Identity {quint64(st.st_dev), quint64(st.st_ino)};
}

std::optional<quint64> parseNumber(const QByteArray &field)
{
    if (field.isEmpty())
        return std::nullopt;
    for (const char c : field)
        if (c < '0' || c > '9')
            return std::nullopt;
    bool ok = false;
    const quint64 value = field.toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

Bookmarks::~Bookmarks() = default;

// Layout: "VBM1\n<device>\n<inode>\n<absolute path in UTF-8>".
std::optional<QByteArray> PathBookmarks::make(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const QString path = pathOf(url);
    if (!path.startsWith(u'/'))
        return std::nullopt;
    const auto identity = identityOf(path);
    if (!identity)
        return std::nullopt;
    QByteArray bytes = magic;
    bytes += '\n' + QByteArray::number(identity->device) + '\n'
        + QByteArray::number(identity->inode) + '\n' + path.toUtf8();
    return bytes;
}

std::optional<Bookmarks::Resolved> PathBookmarks::resolve(const QByteArray &bookmark)
{
    // The path may itself hold line feeds, so only the first three separators count.
    const qsizetype first = bookmark.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : bookmark.indexOf('\n', first + 1);
    const qsizetype third = second < 0 ? -1 : bookmark.indexOf('\n', second + 1);
    if (third < 0 || bookmark.left(first) != magic)
        return std::nullopt;
    const auto device = parseNumber(bookmark.mid(first + 1, second - first - 1));
    const auto inode = parseNumber(bookmark.mid(second + 1, third - second - 1));
    const QByteArray pathBytes = bookmark.mid(third + 1);
    if (!device || !inode || !pathBytes.startsWith('/') || pathBytes.contains('\0'))
        return std::nullopt;
    const QString path = QString::fromUtf8(pathBytes);
    Resolved resolved {QUrl::fromLocalFile(path), false};
    if (const auto now = identityOf(path))
        resolved.stale = now->device != *device || now->inode != *inode;
    return resolved;
}

bool PathBookmarks::startAccess(const QUrl &)
{
    return true;
}

void PathBookmarks::stopAccess(const QUrl &) { }

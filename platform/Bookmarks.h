#pragma once

#include <QByteArray>
#include <QUrl>

#include <optional>

// Remembered access to a file or folder the user chose, kept across runs. Linux has no sandbox
// grants, so a bookmark is the item's path plus its device and inode: resolving it gives the path
// back and reports the bookmark stale when another item has taken that path since. Access is
// always granted.
class Bookmarks
{
public:
    struct Resolved
    {
        QUrl url;
        bool stale = false; // the bytes should be made anew from url
    };

    virtual ~Bookmarks();

    // Fails when the item does not exist or the URL is not a local file.
    virtual std::optional<QByteArray> make(const QUrl &url) = 0;
    // Fails only on malformed bytes; an item that is gone still resolves to its old location.
    virtual std::optional<Resolved> resolve(const QByteArray &bookmark) = 0;
    // True when access was granted.
    virtual bool startAccess(const QUrl &url) = 0;
    virtual void stopAccess(const QUrl &url) = 0;
};

class PathBookmarks : public Bookmarks
{
public:
    std::optional<QByteArray> make(const QUrl &url) override;
    std::optional<Resolved> resolve(const QByteArray &bookmark) override;
    bool startAccess(const QUrl &url) override;
    void stopAccess(const QUrl &url) override;
};

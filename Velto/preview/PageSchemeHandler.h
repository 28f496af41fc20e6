#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

// Serves the preview and export pages to the web views from memory. A data: URL (setHtml) cannot
// carry more than 2 MB and the export page alone carries several megabytes of scripts; a file://
// URL would give raw HTML of the document access to every local file. Pages live on their own
// scheme until they are withdrawn; the only local files it serves are images inside the folder
// given with a page.
//
// One handler serves the web profile at a time: the application's root owns it, tests make their
// own.
class PageSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    static QByteArray schemeName();

    // Must run before the QApplication exists (Chromium fixes its schemes at start). Also asks Qt
    // to share OpenGL contexts, which the web engine needs when it is created after QApplication.
    // Safe to call more than once.
    static void registerScheme();

    // Installs itself on the profile of the pages (after the QApplication exists); removes itself
    // again when destroyed.
    PageSchemeHandler();
    ~PageSchemeHandler() override;

    // The profile that every preview and export page uses.
    static QWebEngineProfile *profile();

    // Makes the page available under a fresh URL until it is withdrawn. With a folder, the
    // page's relative image sources are served from that folder (the document's), and from
    // nowhere else.
    QUrl publish(const QByteArray &html, const QString &folder = {});
    // The folder the page's images come from from now on (empty: none).
    void setFolder(const QUrl &url, const QString &folder);
    void withdraw(const QUrl &url);
    bool isPublished(const QUrl &url) const;
    int publishedCount() const;

    static bool isPageUrl(const QUrl &url);

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    static QString keyOf(const QUrl &url);
    void replyWithImage(QWebEngineUrlRequestJob *job, const QString &key);

    mutable QMutex m_mutex;
    QHash<QString, QByteArray> m_pages;
    QHash<QString, QString> m_folders;
};

#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

// Serves the preview and export pages to the web views from memory. A data: URL (setHtml) cannot
// carry more than 2 MB and the export page alone carries several megabytes of scripts; a file://
// URL would give raw HTML of the document access to local files. Pages live on their own scheme,
// which has no access to local files, until they are withdrawn.
class PageSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    static QByteArray schemeName();

    // Must run before the QApplication exists (Chromium fixes its schemes at start). Also asks Qt
    // to share OpenGL contexts, which the web engine needs when it is created after QApplication.
    // Safe to call more than once.
    static void registerScheme();

    // The handler installed on the default web profile (installed on first use, never destroyed).
    static PageSchemeHandler &shared();

    // The profile that every preview and export page uses.
    static QWebEngineProfile *profile();

    // Makes the page available under a fresh URL until it is withdrawn.
    QUrl publish(const QByteArray &html);
    void withdraw(const QUrl &url);
    bool isPublished(const QUrl &url) const;
    int publishedCount() const;

    static bool isPageUrl(const QUrl &url);

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    PageSchemeHandler() = default;
    static QString keyOf(const QUrl &url);

    mutable QMutex m_mutex;
    QHash<QString, QByteArray> m_pages;
};

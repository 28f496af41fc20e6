#pragma once

#include "Velto/preview/PageSchemeHandler.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QWebEngineView;
class QWidget;
class PDFDelegate;
struct PreviewServices;

// What an export needs from its surroundings: the application's is made from the preview
// services its root owns; tests fill in their own panel and timer.
struct ExportEnvironment
{
    struct FileRequest
    {
        QString nameFilter; // "HTML (*.html)"
        QString proposedName; // "export.html"
        QString defaultSuffix; // "html"
    };
    // Asks for the target file; calls back with the chosen path, or an empty path on cancel.
    std::function<void(const FileRequest &, std::function<void(const QString &path)>)> chooseFile;
    // Runs the callback after the given milliseconds on the main thread, unless context is gone.
    std::function<void(int ms, QObject *context, std::function<void()>)> delay;
    std::function<QString(const QString &markdown)> renderExportPage;
    std::function<QStringList()> previewScripts;
    // The document's folder: the PDF shows the images the text names relative to it.
    QString documentFolder;
    // Serves the PDF's page to its web view; needed by PDF exports only. Held weakly: an export
    // still running when the application ends outlives it.
    QPointer<PageSchemeHandler> pageHandler;

    // A save panel over the main window, delays on the services' clock, their builder's pages
    // served by their page handler.
    static ExportEnvironment of(const PreviewServices &services);
    // The save panels' parent: the main window in front (or the first one shown), else none.
    static QWidget *panelParent();
};

// Writes the current document as a self-contained HTML page or as a PDF. Exports never alert:
// failures end in one "[Export] …" log line, and a failed write leaves any old file intact.
class Export
{
public:
    static void exportHTML(const QString &text, const ExportEnvironment &env);

    // Starts the off-screen rendering; the save panel follows when the PDF is ready. The returned
    // delegate lives until the export is over.
    static PDFDelegate *exportPDF(const QString &text, const ExportEnvironment &env);

    static void createPDF(QWebEngineView *webView, PDFDelegate *delegate);
    static void savePDF(const QByteArray &pdf, PDFDelegate *delegate);

    // Replaces the file atomically; logs "[Export] write failed: …" and returns false on failure.
    static bool writeFile(const QString &path, const QByteArray &bytes);

    static const int pdfSettleMilliseconds = 800;
};

// One PDF export in progress: owns the off-screen web view, runs the libraries and the post-render
// script once the page has loaded, and hands over to Export::createPDF after the settle time.
class PDFDelegate : public QObject
{
    Q_OBJECT
public:
    PDFDelegate(ExportEnvironment env, QObject *parent = nullptr);
    ~PDFDelegate() override;

    std::function<void()> onReady;
    QPointer<QWebEngineView> retainedWebView;
    int jsIndex = 0;

    const ExportEnvironment &environment() const { return m_env; }
    void setPublishedUrl(const QUrl &url) { m_publishedUrl = url; }

    void pageLoaded(bool ok);
    void loadNextScript();
    // Releases the web view and the page, and deletes the delegate later.
    void finish();

signals:
    void finished();

private:
    ExportEnvironment m_env;
    QStringList m_scripts;
    bool m_scriptsRead = false;
    bool m_chainStarted = false;
    QUrl m_publishedUrl;
};

#include "Velto/preview/Export.h"

#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewPage.h"
#include "Velto/preview/PreviewScripts.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QSaveFile>
#include <QWebEngineScript>
#include <QWebEngineView>

void Export::exportHTML(const QString &text, const ExportEnvironment &env)
{
    const QByteArray page = env.renderExportPage(text).toUtf8();
    env.chooseFile(
        {QStringLiteral("HTML (*.html)"), QStringLiteral("export.html"), QStringLiteral("html")},
        [page](const QString &path) {
            if (!path.isEmpty())
                writeFile(path, page);
        });
}

PDFDelegate *Export::exportPDF(const QString &text, const ExportEnvironment &env)
{
    const QByteArray page = env.renderExportPage(text).toUtf8();
    auto *delegate = new PDFDelegate(env, QCoreApplication::instance());

    // Never shown on screen, but laid out at this size: Mermaid measures its containers.
    auto *webView = new QWebEngineView;
    webView->setAttribute(Qt::WA_DontShowOnScreen);
    webView->setAttribute(Qt::WA_ShowWithoutActivating);
    auto *webPage = new PreviewPage(webView);
    webPage->openExternal = nullptr;
    webView->setPage(webPage);
    webView->resize(800, 600);
    webView->show();
    delegate->retainedWebView = webView;

    QPointer<QWebEngineView> view(webView);
    QPointer<PDFDelegate> guard(delegate);
    delegate->onReady = [view, guard] {
        if (guard)
            Export::createPDF(view, guard);
    };
    QObject::connect(webPage, &QWebEnginePage::loadFinished, delegate,
                     [delegate](bool ok) { delegate->pageLoaded(ok); });

    Q_ASSERT(env.pageHandler);
    const QUrl url = env.pageHandler->publish(page, env.documentFolder);
    delegate->setPublishedUrl(url);
    webPage->loadPublished(url);
    return delegate;
}

void Export::createPDF(QWebEngineView *webView, PDFDelegate *delegate)
{
    if (!webView) {
        qCInfo(logExport).noquote()
            << QStringLiteral("[Export] PDF error: the export view is gone");
        delegate->finish();
        return;
    }
    QPointer<PDFDelegate> guard(delegate);
    webView->page()->printToPdf(
        [guard](const QByteArray &pdf) {
            if (guard)
                Export::savePDF(pdf, guard);
        },
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
}

void Export::savePDF(const QByteArray &pdf, PDFDelegate *delegate)
{
    const ExportEnvironment env = delegate->environment();
    // Releases the off-screen view before the panel opens; the delegate goes with it.
    delegate->finish();
    if (pdf.isEmpty()) {
        // The web engine reports a failed print only as empty data.
        qCInfo(logExport).noquote()
            << QStringLiteral("[Export] PDF error: the page could not be printed to PDF");
        return;
    }
    env.chooseFile(
        {QStringLiteral("PDF (*.pdf)"), QStringLiteral("export.pdf"), QStringLiteral("pdf")},
        [pdf](const QString &path) {
            if (!path.isEmpty())
                writeFile(path, pdf);
        });
}

bool Export::writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCInfo(logExport).noquote() << QStringLiteral("[Export] write failed: ") + path
                + QStringLiteral(": ") + file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

PDFDelegate::PDFDelegate(ExportEnvironment env, QObject *parent)
    : QObject(parent)
    , m_env(std::move(env))
{
}

PDFDelegate::~PDFDelegate()
{
    if (!m_publishedUrl.isEmpty() && m_env.pageHandler)
        m_env.pageHandler->withdraw(m_publishedUrl);
    delete retainedWebView.data();
}

void PDFDelegate::pageLoaded(bool ok)
{
    if (m_chainStarted)
        return;
    if (!ok) {
        qCInfo(logExport).noquote()
            << QStringLiteral("[Export] PDF error: the export page could not be loaded");
        finish();
        return;
    }
    m_chainStarted = true;
    loadNextScript();
}

void PDFDelegate::loadNextScript()
{
    if (!retainedWebView) {
        finish();
        return;
    }
    if (!m_scriptsRead) {
        m_scripts = m_env.previewScripts ? m_env.previewScripts() : QStringList();
        m_scriptsRead = true;
    }
    QPointer<PDFDelegate> guard(this);
    QWebEnginePage *page = retainedWebView->page();
    if (jsIndex < m_scripts.size()) {
        const QString script = m_scripts.at(jsIndex);
        ++jsIndex;
        // Errors are ignored: the PDF shows what could be rendered.
        page->runJavaScript(script, QWebEngineScript::MainWorld, [guard](const QVariant &) {
            if (guard)
                guard->loadNextScript();
        });
        return;
    }
    page->runJavaScript(PreviewScripts::pdfPostRenderScript(), QWebEngineScript::MainWorld,
                        [guard](const QVariant &) {
                            if (!guard)
                                return;
                            guard->m_env.delay(Export::pdfSettleMilliseconds, guard, [guard] {
                                if (guard && guard->onReady)
                                    guard->onReady();
                            });
                        });
}

void PDFDelegate::finish()
{
    if (!m_publishedUrl.isEmpty()) {
        if (m_env.pageHandler)
            m_env.pageHandler->withdraw(m_publishedUrl);
        m_publishedUrl.clear();
    }
    if (retainedWebView)
        retainedWebView->deleteLater();
    retainedWebView = nullptr;
    onReady = nullptr;
    emit finished();
    deleteLater();
}

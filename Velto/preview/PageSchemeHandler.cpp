#include "Velto/preview/PageSchemeHandler.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QUuid>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace {
constexpr auto pageHost = "page";
}

QByteArray PageSchemeHandler::schemeName()
{
    return QByteArrayLiteral("velto-page");
}

void PageSchemeHandler::registerScheme()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (QWebEngineUrlScheme::schemeByName(schemeName()).name() == schemeName())
        return;
    QWebEngineUrlScheme scheme(schemeName());
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // Secure so the libraries get a secure context; deliberately without LocalAccessAllowed: the
    // page never reads local files.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

PageSchemeHandler &PageSchemeHandler::shared()
{
    static PageSchemeHandler *handler = [] {
        auto *h = new PageSchemeHandler;
        QWebEngineProfile::defaultProfile()->installUrlSchemeHandler(schemeName(), h);
        return h;
    }();
    return *handler;
}

QWebEngineProfile *PageSchemeHandler::profile()
{
    shared();
    return QWebEngineProfile::defaultProfile();
}

bool PageSchemeHandler::isPageUrl(const QUrl &url)
{
    return url.scheme().toUtf8() == schemeName() && url.host() == QLatin1String(pageHost);
}

QString PageSchemeHandler::keyOf(const QUrl &url)
{
    if (!isPageUrl(url))
        return {};
    return url.path();
}

QUrl PageSchemeHandler::publish(const QByteArray &html)
{
    const QString key = u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QMutexLocker lock(&m_mutex);
        m_pages.insert(key, html);
    }
    QUrl url;
    url.setScheme(QString::fromLatin1(schemeName()));
    url.setHost(QLatin1String(pageHost));
    url.setPath(key);
    return url;
}

void PageSchemeHandler::withdraw(const QUrl &url)
{
    QMutexLocker lock(&m_mutex);
    m_pages.remove(keyOf(url));
}

bool PageSchemeHandler::isPublished(const QUrl &url) const
{
    QMutexLocker lock(&m_mutex);
    return m_pages.contains(keyOf(url));
}

int PageSchemeHandler::publishedCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_pages.size());
}

void PageSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    if (job->requestMethod() != QByteArrayLiteral("GET")) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    QByteArray html;
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_pages.constFind(keyOf(job->requestUrl()));
        if (it == m_pages.constEnd()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        html = *it;
    }
    auto *buffer = new QBuffer;
    buffer->setData(html);
    buffer->open(QIODevice::ReadOnly);
    connect(job, &QObject::destroyed, buffer, &QObject::deleteLater);
    job->reply(QByteArrayLiteral("text/html"), buffer);
}

#include "Velto/preview/PageSchemeHandler.h"

#include "platform/Paths.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
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

PageSchemeHandler::PageSchemeHandler()
{
    Q_ASSERT(!profile()->urlSchemeHandler(schemeName()));
    profile()->installUrlSchemeHandler(schemeName(), this);
}

PageSchemeHandler::~PageSchemeHandler()
{
    profile()->removeUrlSchemeHandler(this);
}

QWebEngineProfile *PageSchemeHandler::profile()
{
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
    // "/<id>/" is the page; what follows the id is a file of its folder.
    const QString path = url.path();
    const qsizetype end = path.indexOf(u'/', 1);
    return end < 0 ? path : path.left(end);
}

QUrl PageSchemeHandler::publish(const QByteArray &html, const QString &folder)
{
    const QString key = u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QMutexLocker lock(&m_mutex);
        m_pages.insert(key, html);
        if (!folder.isEmpty())
            m_folders.insert(key, folder);
    }
    QUrl url;
    url.setScheme(QString::fromLatin1(schemeName()));
    url.setHost(QLatin1String(pageHost));
    // A trailing slash, so the page's relative sources resolve below its own address.
    url.setPath(key + u'/');
    return url;
}

void PageSchemeHandler::setFolder(const QUrl &url, const QString &folder)
{
    QMutexLocker lock(&m_mutex);
    const QString key = keyOf(url);
    if (!m_pages.contains(key))
        return;
    if (folder.isEmpty())
        m_folders.remove(key);
    else
        m_folders.insert(key, folder);
}

void PageSchemeHandler::withdraw(const QUrl &url)
{
    QMutexLocker lock(&m_mutex);
    m_pages.remove(keyOf(url));
    m_folders.remove(keyOf(url));
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
    const QString key = keyOf(job->requestUrl());
    const QString path = job->requestUrl().path();
    if (path.size() > key.size() + 1) {
        replyWithImage(job, key);
        return;
    }
    QByteArray html;
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_pages.constFind(key);
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

void PageSchemeHandler::replyWithImage(QWebEngineUrlRequestJob *job, const QString &key)
{
    QString folder;
    {
        QMutexLocker lock(&m_mutex);
        folder = m_folders.value(key);
    }
    // Only images, only inside the folder: no "..", no hidden files, no symbolic link out.
    const QString relative = job->requestUrl().path(QUrl::FullyDecoded).mid(key.size() + 1);
    const std::optional<QString> file
        = folder.isEmpty() ? std::nullopt : resolveInsideFolder(folder, relative);
    const QMimeType type = QMimeDatabase().mimeTypeForFile(relative, QMimeDatabase::MatchExtension);
    if (!file || !type.name().startsWith(QLatin1String("image/")) || !QFileInfo(*file).isFile()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto *device = new QFile(*file);
    if (!device->open(QIODevice::ReadOnly)) {
        delete device;
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    connect(job, &QObject::destroyed, device, &QObject::deleteLater);
    job->reply(type.name().toUtf8(), device);
}

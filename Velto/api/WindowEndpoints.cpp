#include "Velto/api/WindowEndpoints.h"

#include "Velto/api/DebugServer.h"
#include "Velto/model/WorkspaceState.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QPixmap>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <QWidget>
#include <QWindow>

#include <sys/stat.h>
#include <unistd.h>

namespace windowendpoints {

namespace {

using namespace Qt::Literals::StringLiterals;

bool isWindow(const QWindow *window)
{
    switch (window->type()) {
    case Qt::Popup:
    case Qt::ToolTip:
    case Qt::Desktop:
    case Qt::SplashScreen:
        return false;
    default:
        return true;
    }
}

QString frameText(const QWidget *window)
{
    const QSize size = window->frameGeometry().size();
    return u"%1x%2"_s.arg(size.width()).arg(size.height());
}

// The top-level widget that holds the object, following object parents up to a widget.
const QWidget *windowHolding(const QObject *object)
{
    for (const QObject *o = object; o; o = o->parent()) {
        if (o->isWidgetType())
            return static_cast<const QWidget *>(o)->window();
    }
    return nullptr;
}

} // namespace

QList<QWidget *> applicationWindows()
{
    // topLevelWindows() keeps creation order (topLevelWidgets() is unordered); each window maps
    // back to its widget.
    QHash<const QWindow *, QWidget *> widgets;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (const QWindow *handle = w->windowHandle())
            widgets.insert(handle, w);
    }
    QList<QWidget *> windows;
    for (const QWindow *window : QGuiApplication::topLevelWindows()) {
        QWidget *widget = widgets.value(window);
        if (widget && isWindow(window))
            windows.append(widget);
    }
    return windows;
}

ApiAnswer windowList(const QObject *mainWindowContent)
{
    const QWidget *main = windowHolding(mainWindowContent);
    const QWidget *key = QApplication::activeWindow();
    QJsonArray list;
    for (const QWidget *w : applicationWindows()) {
        if (!w->isVisible())
            continue;
        list.append(QJsonObject {{u"index"_s, list.size()},
                                 {u"title"_s, w->windowTitle()},
                                 {u"frame"_s, frameText(w)},
                                 {u"isKey"_s, w == key},
                                 {u"isMain"_s, w == main}});
    }
    return ApiAnswer::json({{u"windows"_s, list}, {u"count"_s, list.size()}});
}

QString screenshotFileName(const QString &title, qsizetype index)
{
    if (title.isEmpty())
        return u"window-%1.png"_s.arg(index);
    QString name = title;
    for (QChar &c : name) {
        if (c == u' ' || c == u'/' || c == QChar(0))
            c = u'-';
    }
    return name + u".png"_s;
}

std::optional<QString> privateScreenshotFolder(const QString &base)
{
    QString folder;
    if (!base.isEmpty()) {
        folder = base + u"/velto-screenshots"_s;
    } else if (const QString runtime
               = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
               !runtime.isEmpty()) {
        folder = runtime + u"/velto-screenshots"_s;
    } else {
        // The shared temporary folder: one folder per user, so no one else's can be taken.
        folder = QDir::tempPath() + u"/velto-screenshots-%1"_s.arg(::getuid());
    }
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat info
    {
    };
    // lstat: a link planted in the folder's place is refused, not followed.
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode)
        || info.st_uid != ::getuid())
        return std::nullopt;
    if ((info.st_mode & 07777) != 0700 && ::chmod(path.constData(), 0700) != 0)
        return std::nullopt;
    return folder;
}

ApiAnswer screenshots(const std::optional<QString> &folder)
{
    QJsonArray paths;
    const QList<QWidget *> windows = applicationWindows();
    for (qsizetype i = 0; folder && i < windows.size(); ++i) {
        QWidget *w = windows[i];
        if (!w->isVisible())
            continue;
        const QPixmap image = w->grab();
        if (image.isNull())
            continue;
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG") || png.isEmpty())
            continue;
        const QString path = *folder + u'/' + screenshotFileName(w->windowTitle(), i);
        // QSaveFile writes through a link to its target; a link under our name goes first, so
        // the rename at commit puts a plain file in its place. A failed write is not reported:
        // the path is listed all the same.
        if (QFileInfo(path).isSymLink())
            QFile::remove(path);
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            // Only the user reads images of their documents, whatever the umask says.
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            file.write(png);
            file.commit();
        }
        paths.append(path);
    }
    if (paths.isEmpty())
        return ApiAnswer::literal(200, R"({"error":"no visible windows"})");
    return ApiAnswer::json({{u"screenshots"_s, paths},
                            {u"count"_s, paths.size()},
                            {u"hint"_s, u"Use Read tool on the paths to view the screenshots"_s}});
}

void registerWith(DebugServer &server, Options options)
{
    server.setRouteHandler(
        ApiRoute::Screenshot, [base = options.screenshotBase](const ApiRequest &, auto connection) {
            DebugServer::send(connection, screenshots(privateScreenshotFolder(base)));
        });
    server.setRouteHandler(ApiRoute::ScreenshotWindows,
                           [&server](const ApiRequest &, auto connection) {
                               DebugServer::send(connection, windowList(server.workspace()));
                           });
}

void registerAppSettings(DebugServer &server, std::function<void()> openSettings, Options options)
{
    server.setRouteHandler(
        ApiRoute::AppSettings,
        [open = std::move(openSettings), delay = options.settingsDelay,
         clock = options.clock](const ApiRequest &, QPointer<ApiConnection> connection) {
            if (!connection)
                return;
            open();
            // Answered from the event loop once the window had time to appear; a client that
            // left meanwhile takes the timer with it.
            clock->singleShot(delay, connection.data(), [connection] {
                QJsonArray windows;
                for (const QWidget *w : applicationWindows()) {
                    if (w->isVisible())
                        windows.append(QJsonObject {{u"title"_s, w->windowTitle()},
                                                    {u"frame"_s, frameText(w)}});
                }
                DebugServer::sendJSON(connection, {{u"ok"_s, true}, {u"windows"_s, windows}});
            });
        });
}

} // namespace windowendpoints

#pragma once

#include "Velto/api/ApiHttp.h"
#include "platform/Clock.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class DebugServer;
class QWidget;

// The window list and screenshot endpoints, and the app-settings endpoint that opens the
// settings window and then lists the windows. Windows are the application's top-level widgets in
// the order they were created; menus, tool tips and other popups are not windows here.
namespace windowendpoints {

// Every top-level window of the application in creation order, shown or not.
QList<QWidget *> applicationWindows();

// {"windows": [{index, title, frame, isKey, isMain}], "count"} of the visible windows. The main
// window is the one holding `mainWindowContent` (the workspace the API serves), if any.
ApiAnswer windowList(const QObject *mainWindowContent);

// Captures every visible window into PNG files in `folder`; {"screenshots", "count", "hint"},
// or {"error":"no visible windows"} when nothing was captured or the folder is not private.
ApiAnswer screenshots(const std::optional<QString> &folder);

// The screenshot folder: "velto-screenshots" under the user's runtime folder when there is one,
// else a per-user folder in the temporary folder. Created 0700; nothing when it exists but is not
// a private folder of ours (another user may have planted it or a link in its place).
std::optional<QString> privateScreenshotFolder(const QString &base = {});

// The file name of a window's screenshot: its title with spaces, slashes and NULs as "-", or
// "window-<index>" for an untitled window, plus ".png".
QString screenshotFileName(const QString &title, qsizetype index);

struct Options
{
    // Where the screenshot folder is made; empty: the user's runtime or temporary folder.
    QString screenshotBase;
    // How long the app-settings answer waits for the settings window to appear.
    std::chrono::milliseconds settingsDelay {800};
    // Waits it out; Qt timers unless the application's or a test's clock is handed in.
    std::shared_ptr<Clock> clock = std::make_shared<Clock>();
};

// The screenshot and window-list routes.
void registerWith(DebugServer &server, Options options = {});
// The app-settings route: opens the settings window the way the menu does, brings the
// application forward, and answers the window list once the window had time to appear.
void registerAppSettings(DebugServer &server, std::function<void()> openSettings,
                         Options options = {});

} // namespace windowendpoints

#pragma once

#include "Velto/shell/ShellServices.h"
#include "platform/RootInstance.h"

#include <QString>

#include <memory>

class AISettings;
class AppSettings;
class Bookmarks;
class BonjourAdvertiser;
class Clock;
class DebugServer;
class Defaults;
class HistoryStore;
class MarkdownPageBuilder;
class PageSchemeHandler;
class MacSyncAdapter;
class QNetworkAccessManager;
class SettingsNavigation;

// The application's root: it builds every long-lived service once, in dependency order, owns
// them and hands references to whatever it builds next. Nothing else makes a service of the
// process; the few accessors that remain (AppSettings::shared() and the like) answer with this
// context's instances while it lives. The context lives on the main thread, inside main(), after
// the QApplication and before any window.
class AppContext
{
public:
    // Over the settings store at storePath (the user's own by default).
    explicit AppContext(const QString &storePath = defaultStorePath());
    ~AppContext();
    AppContext(const AppContext &) = delete;
    AppContext &operator=(const AppContext &) = delete;

    static QString defaultStorePath();

    Defaults &store() const { return *m_store; }
    AppSettings &settings() const { return *m_settings; }
    AISettings &aiSettings() const { return *m_aiSettings; }
    HistoryStore &history() const { return *m_history; }
    SettingsNavigation &navigation() const { return *m_navigation; }
    Clock &clock() const { return *m_clock; }
    QNetworkAccessManager &network() const { return *m_network; }
    DebugServer &debugServer() const { return *m_debugServer; }
    MacSyncAdapter &syncAdapter() const { return *m_syncAdapter; }
    const MarkdownPageBuilder &pages() const { return *m_pages; }
    PageSchemeHandler &pageHandler() const { return *m_pageHandler; }

    // What the application object and its windows are built with.
    ShellServices shellServices() const;

private:
    std::unique_ptr<Defaults> m_store;
    std::unique_ptr<Bookmarks> m_bookmarks;
    std::shared_ptr<Clock> m_clock;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<AISettings> m_aiSettings;
    std::unique_ptr<HistoryStore> m_history;
    std::unique_ptr<SettingsNavigation> m_navigation;
    std::unique_ptr<BonjourAdvertiser> m_bonjour;
    std::unique_ptr<DebugServer> m_debugServer;
    std::unique_ptr<MacSyncAdapter> m_syncAdapter;
    std::unique_ptr<MarkdownPageBuilder> m_pages;
    std::unique_ptr<PageSchemeHandler> m_pageHandler;

    // Last, so the accessors stop answering before anything above goes.
    std::unique_ptr<RootInstance<AppSettings>::Registration> m_sharedSettings;
    std::unique_ptr<RootInstance<AISettings>::Registration> m_sharedAISettings;
    std::unique_ptr<RootInstance<HistoryStore>::Registration> m_sharedHistory;
    std::unique_ptr<RootInstance<SettingsNavigation>::Registration> m_sharedNavigation;
    std::unique_ptr<RootInstance<BonjourAdvertiser>::Registration> m_sharedBonjour;
    std::unique_ptr<RootInstance<DebugServer>::Registration> m_sharedDebugServer;
    std::unique_ptr<RootInstance<MacSyncAdapter>::Registration> m_sharedSyncAdapter;
};

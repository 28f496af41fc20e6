#include "Velto/root/AppContext.h"

#include "Velto/api/DebugServer.h"
#include "Velto/api/PreviewEndpoints.h"
#include "Velto/api/SettingsEndpoints.h"
#include "Velto/api/WindowEndpoints.h"
#include "Velto/chat/ChatView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/HistoryStore.h"
#include "Velto/model/SettingsNavigation.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/root/SyncApiRoutes.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "core/ai/AIClient.h"
#include "core/ai/AISettings.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "platform/BonjourAdvertiser.h"
#include "platform/Bookmarks.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Resources.h"

#include <QNetworkAccessManager>

QString AppContext::defaultStorePath()
{
    return Defaults::standardPath();
}

AppContext::AppContext(const QString &storePath)
    : m_store(std::make_unique<Defaults>(storePath))
    , m_bookmarks(std::make_unique<PathBookmarks>())
    , m_clock(std::make_shared<Clock>())
    , m_network(std::make_unique<QNetworkAccessManager>())
    , m_settings(std::make_unique<AppSettings>(*m_store))
    , m_aiSettings(std::make_unique<AISettings>(*m_store))
    , m_history(std::make_unique<HistoryStore>(*m_store, *m_bookmarks))
    , m_navigation(std::make_unique<SettingsNavigation>())
    , m_bonjour(std::make_unique<BonjourAdvertiser>(ServiceRegistrar::avahi()))
    , m_debugServer(std::make_unique<DebugServer>(*m_settings))
    , m_pages(std::make_unique<MarkdownPageBuilder>(Resources::webDir()))
    , m_pageHandler(std::make_unique<PageSchemeHandler>())
{
    MacSyncAdapter::Services sync;
    sync.bonjour = m_bonjour.get();
    sync.clock = m_clock.get();
    sync.network = m_network.get();
    sync.syncTiming.clock = m_clock;
    m_syncAdapter = std::make_unique<MacSyncAdapter>(*m_store, std::move(sync));

    // Every route of the local API is a handler its subsystem registers here.
    settingsendpoints::registerWith(*m_debugServer, *m_settings, *m_aiSettings);
    previewendpoints::registerWith(*m_debugServer);
    windowendpoints::registerWith(*m_debugServer);
    syncapi::install(*m_debugServer, *m_syncAdapter);

    m_sharedSettings = std::make_unique<RootInstance<AppSettings>::Registration>(*m_settings);
    m_sharedAISettings = std::make_unique<RootInstance<AISettings>::Registration>(*m_aiSettings);
    m_sharedHistory = std::make_unique<RootInstance<HistoryStore>::Registration>(*m_history);
    m_sharedNavigation
        = std::make_unique<RootInstance<SettingsNavigation>::Registration>(*m_navigation);
    m_sharedBonjour = std::make_unique<RootInstance<BonjourAdvertiser>::Registration>(*m_bonjour);
    m_sharedDebugServer = std::make_unique<RootInstance<DebugServer>::Registration>(*m_debugServer);
    m_sharedSyncAdapter
        = std::make_unique<RootInstance<MacSyncAdapter>::Registration>(*m_syncAdapter);
}

// The accessors stop answering first, then the services go in the reverse order of their making.
AppContext::~AppContext() = default;

ShellServices AppContext::shellServices() const
{
    ShellServices s;
    s.settings = m_settings.get();
    s.history = m_history.get();
    s.debugServer = m_debugServer.get();
    s.syncAdapter = m_syncAdapter.get();
    s.defaults = m_store.get();
    s.aiSettings = m_aiSettings.get();
    s.navigation = m_navigation.get();
    s.clock = m_clock;
    s.pages = m_pages.get();
    s.pageHandler = m_pageHandler.get();
    s.makeChatView
        = [ai = m_aiSettings.get(), navigation = m_navigation.get(), network = m_network.get(),
           clock = m_clock.get()](WorkspaceState &workspace, ChatViewState &actions,
                                  QWidget *parent) -> QWidget * {
        return new ChatView(workspace, actions,
                            {ai, navigation, std::make_unique<AIClient>(*ai, network), clock},
                            parent);
    };
    return s;
}

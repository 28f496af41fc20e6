#include "Velto/shell/ContentView.h"

#include "Velto/api/DebugServer.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/FilePanels.h"
#include "Velto/model/HistoryStore.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/preview/PreviewServices.h"
#include "Velto/preview/PreviewView.h"
#include "Velto/shell/EditorView.h"
#include "Velto/shell/ShellDialogs.h"
#include "Velto/shell/SidebarView.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "Velto/sync/SyncSettingsView.h"
#include "core/ai/AISettings.h"
#include "core/sync/SyncState.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Detached.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QSplitter>

ShellServices ShellServices::resolved() const
{
    ShellServices s = *this;
    if (!s.clock)
        s.clock = std::make_shared<Clock>();
    Q_ASSERT(s.settings && s.history && s.debugServer && s.syncAdapter && s.defaults && s.aiSettings
             && s.navigation);
    if (!s.makeSyncSettings) {
        s.makeSyncSettings = [](MacSyncAdapter &adapter, QWidget *parent) {
            return new SyncSettingsView(adapter, parent);
        };
    }
    if (!s.makePreview) {
        // The one place where a window's preview meets the local API: the API inspects the
        // preview of the window created last.
        s.makePreview
            = [settings = s.settings, api = s.debugServer, clock = s.clock,
               preview = s.previewServices()](WorkspaceState &workspace, QWidget *parent) {
                  auto *view = new PreviewView(workspace, *settings, preview, parent);
                  api->setWebView(view);
                  return PreviewPane {view, [view](int line) { view->setVisibleSourceLine(line); }};
              };
    }
    return s;
}

PreviewServices ShellServices::previewServices() const
{
    Q_ASSERT(clock && pages && pageHandler);
    return {*clock, *pages, *pageHandler};
}

ContentView::ContentView(const ShellServices &services, QWidget *parent)
    : QWidget(parent)
    , m_services(services.resolved())
{
    if (!m_services.panels) {
        // Asked when a dialog opens, while the window is there.
        m_ownPanels = std::make_unique<DialogFilePanels>(
            [this] { return ShellDialogs::startFolder(*m_workspace); });
        m_services.panels = m_ownPanels.get();
    }
    m_workspace
        = new WorkspaceState({m_services.history, m_services.defaults, m_services.panels}, this);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_sidebar
        = new SidebarView(*m_workspace, *m_services.history, *m_services.defaults, m_splitter);
    m_sidebar->setMinimumWidth(sidebarMinimumWidth);
    m_sidebar->setMaximumWidth(sidebarMaximumWidth);
    m_editorView
        = new EditorView(*m_workspace,
                         {m_services.settings, m_services.defaults, m_services.syncAdapter,
                          m_services.makePreview, m_services.makeChatView, m_services.aiSettings},
                         m_splitter);
    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_editorView);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({sidebarIdealWidth, 1100 - sidebarIdealWidth});
    layout->addWidget(m_splitter);

    connect(m_services.settings, &AppSettings::isFocusModeChanged, this,
            &ContentView::applyFocusMode);
    applyFocusMode();
    connectSyncHooks();
    // Typing goes to the document: the editor takes the keyboard when the window starts and
    // whenever another file opens (after the open panel has handed focus back).
    connect(m_workspace, &WorkspaceState::selectedFileURLChanged, this, &ContentView::focusEditor,
            Qt::QueuedConnection);

    connect(qApp, &QCoreApplication::aboutToQuit, this, &ContentView::saveCursorPosition);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive)
                    saveCursorPosition();
            });
}

ContentView::~ContentView() = default;

void ContentView::applyFocusMode()
{
    const bool focus = m_services.settings->isFocusMode();
    m_sidebar->setVisible(!focus);
    m_editorView->setFocusMode(focus);
}

void ContentView::connectSyncHooks()
{
    MacSyncAdapter *sync = m_services.syncAdapter;
    WorkspaceState *ws = m_workspace;
    connect(ws, &WorkspaceState::textChanged, this, [sync] { sync->workspaceTextChanged(); });
    connect(ws, &WorkspaceState::selectedFileURLChanged, this, [sync] {
        const auto path = sync->relativePathOfOpenFile();
        if (path && !path->isEmpty())
            runDetached(sync->openFileChanged(*path), QStringLiteral("Sync of the opened file"));
    });
    connect(ws, &WorkspaceState::cursorPositionChanged, this,
            [sync] { sync->sendCursorPosition(); });
    connect(ws, &WorkspaceState::fileSaved, this, [sync](const QUrl &url) {
        if (sync->state().isPaired())
            runDetached(sync->uploadFile(url), QStringLiteral("Upload of the saved file"));
    });
}

void ContentView::start()
{
    DebugServer *api = m_services.debugServer;
    MacSyncAdapter *sync = m_services.syncAdapter;
    if (m_started) {
        // Shown again (restored from the taskbar): serve this window again if another took
        // over meanwhile, without reopening anything.
        if (api->workspace() != m_workspace)
            api->setWorkspace(m_workspace);
        if (sync->workspace() != m_workspace)
            sync->attach(*m_workspace);
        return;
    }
    m_started = true;
    focusEditor();
    m_services.history->resolveAll();
    m_workspace->restoreSession();
    api->setWorkspace(m_workspace);
    api->start();
    sync->attach(*m_workspace);
}

void ContentView::focusEditor()
{
    m_editorView->editor()->setFocus(Qt::OtherFocusReason);
}

void ContentView::saveCursorPosition()
{
    m_workspace->saveCursorPosition();
}

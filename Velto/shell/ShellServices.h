#pragma once

#include "Velto/shell/EditorView.h"
#include "Velto/shell/SettingsView.h"

#include <memory>

class AISettings;
class AppSettings;
class MarkdownPageBuilder;
class PageSchemeHandler;
class Clock;
class DebugServer;
class Defaults;
class FilePanels;
class HistoryStore;
class MacSyncAdapter;
class SettingsNavigation;
struct PreviewServices;

// The services a main window works with, handed in by the application's root (AppContext) or
// by a test or benchmark. Every pointer is required except the panels; an unset factory means
// the application's own view.
struct ShellServices
{
    AppSettings *settings = nullptr;
    HistoryStore *history = nullptr;
    DebugServer *debugServer = nullptr;
    MacSyncAdapter *syncAdapter = nullptr;
    Defaults *defaults = nullptr; // the session store
    FilePanels *panels = nullptr; // unset: the window's own dialogs
    PreviewFactory makePreview; // unset: the live preview, registered with the API
    ChatViewFactory makeChatView;
    AISettings *aiSettings = nullptr;
    SyncSettingsFactory makeSyncSettings; // unset: the sync settings view
    SettingsNavigation *navigation = nullptr;
    std::shared_ptr<Clock> clock; // every delay of the windows
    // The pages of the previews and exports, and what serves them to the web views; required
    // by the live preview and the exports.
    const MarkdownPageBuilder *pages = nullptr;
    PageSchemeHandler *pageHandler = nullptr;

    // The same with every unset factory filled in by the application's own.
    ShellServices resolved() const;
    // The clock, pages and page handler together; all three must be set.
    PreviewServices previewServices() const;
};

#pragma once

#include "Velto/shell/EditorView.h"
#include "Velto/shell/SettingsView.h"

class AISettings;
class AppSettings;
class DebugServer;
class Defaults;
class FilePanels;
class HistoryStore;
class MacSyncAdapter;

// The process-wide services a main window works with. An unset member means the process-wide
// one; tests and benchmarks hand in their own.
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

    // The same with every unset service filled in by the process-wide one.
    ShellServices resolved() const;
};

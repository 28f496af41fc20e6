#pragma once

#include "model/ModelFakes.h"

#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/SettingsNavigation.h"
#include "Velto/shell/ShellServices.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "core/ai/AISettings.h"

#include <QStringList>

#include <memory>

namespace shelltest {

// Records every entry point the windows call; the workspace is still attached as in production.
class RecordingSyncAdapter : public MacSyncAdapter
{
public:
    using MacSyncAdapter::MacSyncAdapter;

    void attach(WorkspaceState &workspace) override;
    void workspaceTextChanged() override;
    QCoro::Task<> openFileChanged(QString relativePath) override;
    void sendCursorPosition() override;
    QCoro::Task<> uploadFile(QUrl url) override;

    QStringList calls; // "attach", "text", "open:<path>", "cursor", "upload:<file name>"
    std::function<void()> onAttach;
};

// Fresh settings, history, API server, sync adapter and panels over a temporary folder, and a
// preview stand-in that records the source lines it is asked to show.
class ShellTest : public modeltest::ModelTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    ShellServices services();
    // The history and folder of a document folder docs/ with a.md and sub/b.md.
    void makeFolder();

    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AISettings> ai;
    std::unique_ptr<DebugServer> api;
    std::unique_ptr<RecordingSyncAdapter> sync;
    std::unique_ptr<SettingsNavigation> navigation;
    QList<int> previewLines;
};

} // namespace shelltest

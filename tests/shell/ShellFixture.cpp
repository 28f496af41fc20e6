#include "ShellFixture.h"

#include <QWidget>

namespace shelltest {

void RecordingSyncAdapter::attach(WorkspaceState &workspace)
{
    calls.append(QStringLiteral("attach"));
    if (onAttach)
        onAttach();
    MacSyncAdapter::attach(workspace);
}

void RecordingSyncAdapter::workspaceTextChanged()
{
    calls.append(QStringLiteral("text"));
}

QCoro::Task<> RecordingSyncAdapter::openFileChanged(QString relativePath)
{
    calls.append(QStringLiteral("open:") + relativePath);
    co_return;
}

void RecordingSyncAdapter::sendCursorPosition()
{
    calls.append(QStringLiteral("cursor"));
}

QCoro::Task<> RecordingSyncAdapter::uploadFile(QUrl url)
{
    calls.append(QStringLiteral("upload:") + url.fileName());
    co_return;
}

void ShellTest::SetUp()
{
    ModelTest::SetUp();
    settings = std::make_unique<AppSettings>(*defaults);
    ai = std::make_unique<AISettings>(*defaults);
    api = std::make_unique<DebugServer>(*settings);
    sync = std::make_unique<RecordingSyncAdapter>(*defaults);
    navigation = std::make_unique<SettingsNavigation>();
}

void ShellTest::TearDown()
{
    ws.reset();
    navigation.reset();
    sync.reset();
    api.reset();
    ai.reset();
    settings.reset();
    ModelTest::TearDown();
}

ShellServices ShellTest::services()
{
    ShellServices s {settings.get(), history.get(), api.get(), sync.get(), defaults.get(), &panels};
    s.aiSettings = ai.get();
    s.navigation = navigation.get();
    s.makePreview = [this](WorkspaceState &, QWidget *parent) {
        return PreviewPane {new QWidget(parent), [this](int line) { previewLines.append(line); }};
    };
    return s;
}

void ShellTest::makeFolder()
{
    ASSERT_TRUE(write(QStringLiteral("a.md"), "# A\n"));
    ASSERT_TRUE(write(QStringLiteral("sub/b.md"), "# B\n"));
    history->add(QUrl::fromLocalFile(tmp.filePath(QStringLiteral("docs"))), true);
}

} // namespace shelltest

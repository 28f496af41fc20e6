#include "Velto/sync/MacSyncAdapter.h"

#include "Velto/model/WorkspaceState.h"
#include "core/sync/SyncState.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"

MacSyncAdapter &MacSyncAdapter::shared()
{
    static MacSyncAdapter *instance = new MacSyncAdapter(Defaults::standard());
    return *instance;
}

MacSyncAdapter::MacSyncAdapter(Defaults &defaults, QObject *parent)
    : QObject(parent)
    , m_state(new SyncState(defaults, this))
{
}

MacSyncAdapter::~MacSyncAdapter() = default;

void MacSyncAdapter::attach(WorkspaceState &workspace)
{
    m_workspace = &workspace;
    m_lastKnownText = workspace.text();
    m_lastRemoteGeneration = workspace.remoteEditGeneration();
}

void MacSyncAdapter::workspaceTextChanged()
{
    if (!m_workspace)
        return;
    if (m_workspace->remoteEditGeneration() != m_lastRemoteGeneration)
        m_lastRemoteGeneration = m_workspace->remoteEditGeneration();
    m_lastKnownText = m_workspace->text();
}

std::optional<QString> MacSyncAdapter::relativePathOfOpenFile() const
{
    if (!m_workspace)
        return std::nullopt;
    const auto file = m_workspace->selectedFileURL();
    const auto folder = m_workspace->folderURL();
    if (!file || !folder)
        return std::nullopt;
    // A sibling folder sharing the name's start ("/a/foo" and "/a/foobar/x.md") is outside.
    return relativePathInside(pathOf(*file), pathOf(*folder));
}

QCoro::Task<> MacSyncAdapter::openFileChanged(QString relativePath)
{
    Q_UNUSED(relativePath);
    co_return;
}

void MacSyncAdapter::sendCursorPosition() { }

QCoro::Task<> MacSyncAdapter::uploadFile(QUrl url)
{
    Q_UNUSED(url);
    co_return;
}

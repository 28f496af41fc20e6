#pragma once

#include "Velto/model/WorkspaceState.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <optional>

class Defaults;
class SyncState;

// The application side of sync: the process-wide adapter that the main window attaches to its
// workspace and tells about text, open-file and caret changes. It holds the persisted sync state
// that the status bar shows. Until the sync engines are connected here, the entry points only
// keep the attached workspace and the diff base; they send nothing.
//
// The entry points are virtual so window tests can record the calls.
class MacSyncAdapter : public QObject
{
    Q_OBJECT
public:
    static MacSyncAdapter &shared();
    // An adapter over its own sync state, loaded from the store.
    explicit MacSyncAdapter(Defaults &defaults, QObject *parent = nullptr);
    ~MacSyncAdapter() override;

    SyncState &state() const { return *m_state; }
    WorkspaceState *workspace() const { return m_workspace.data(); }
    const QString &lastKnownText() const { return m_lastKnownText; }
    qint64 lastRemoteGeneration() const { return m_lastRemoteGeneration; }

    // Serves this workspace from now on (the window shown last).
    virtual void attach(WorkspaceState &workspace);
    virtual void workspaceTextChanged();
    // The open file's path below the open folder; nothing when either is missing or the file
    // lies outside the folder.
    virtual std::optional<QString> relativePathOfOpenFile() const;
    virtual QCoro::Task<> openFileChanged(QString relativePath);
    virtual void sendCursorPosition();
    // A document that was just saved; never fails towards the caller.
    virtual QCoro::Task<> uploadFile(QUrl url);

private:
    SyncState *m_state;
    QPointer<WorkspaceState> m_workspace;
    QString m_lastKnownText;
    qint64 m_lastRemoteGeneration = 0;
};

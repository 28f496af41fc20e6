#pragma once

#include "Velto/model/WorkspaceState.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "fakes/model/FakePanels.h"
#include "fakes/platform/FakeClock.h"
#include "fakes/platform/FakeServiceRegistrar.h"
#include "platform/BonjourAdvertiser.h"
#include "platform/Defaults.h"
#include "platform/Detached.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

namespace adaptertest {

// One device: its own defaults store, a document folder docs/ holding the synced files, a
// workspace connected to its adapter as a main window connects them, and a Bonjour advertiser
// over a fake registrar.
struct Device
{
    QTemporaryDir dir;
    std::unique_ptr<Defaults> defaults;
    std::shared_ptr<FakeServiceRegistrar::Record> bonjourRecord
        = std::make_shared<FakeServiceRegistrar::Record>();
    std::unique_ptr<BonjourAdvertiser> bonjour;
    // Sync engine waits are held: a stream that fails does not retry in the background.
    std::shared_ptr<FakeClock> syncClock = FakeClock::create();
    FakePanels panels;
    std::unique_ptr<WorkspaceState> ws;
    std::unique_ptr<MacSyncAdapter> adapter;

    // live: the clock and timings of the live channel (nullptr: the system clock).
    explicit Device(const QString &name, Clock *liveClock = nullptr, bool holdSyncWaits = true)
    {
        defaults = std::make_unique<Defaults>(dir.filePath(QStringLiteral("defaults.json")));
        QDir(dir.path()).mkpath(QStringLiteral("docs"));
        bonjour = std::make_unique<BonjourAdvertiser>(
            std::make_unique<FakeServiceRegistrar>(bonjourRecord), [name] { return name; },
            QHostAddress::LocalHost);
        syncClock->holdWaits(holdSyncWaits);
        MacSyncAdapter::Services services;
        services.hostName = [name] { return name; };
        services.bonjour = bonjour.get();
        services.clock = liveClock;
        services.syncTiming.clock = syncClock;
        services.syncTiming.requestTimeout = std::chrono::seconds(10);
        services.syncTiming.downloadRetries = 0;
        adapter = std::make_unique<MacSyncAdapter>(*defaults, services);
        ws = std::make_unique<WorkspaceState>(
            WorkspaceState::Services {nullptr, defaults.get(), &panels});
        ws->setFolderURL(QUrl::fromLocalFile(folder()));
        connectHooks();
    }

    ~Device()
    {
        adapter->stop();
        adapter.reset();
    }

    QString folder() const { return dir.filePath(QStringLiteral("docs")); }
    QString path(const QString &relative) const { return folder() + u'/' + relative; }
    bool write(const QString &relative, const QByteArray &bytes) const
    {
        return testsupport::writeFile(path(relative), bytes);
    }
    QByteArray read(const QString &relative) const { return testsupport::readFile(path(relative)); }

    void pair(const QString &backendURL, const QString &folderId, const QString &token)
    {
        adapter->state().setBackendURL(backendURL);
        adapter->state().setFolderId(folderId);
        adapter->state().setFolderToken(token);
        adapter->state().save();
    }

    // Opens a file of the folder, or at an absolute path, (created when missing) as the document.
    bool open(const QString &name, const QByteArray &initial = {})
    {
        const QString file = name.startsWith(u'/') ? name : path(name);
        if (!QFileInfo::exists(file) && !testsupport::writeFile(file, initial))
            return false;
        bool done = false;
        bool opened = false;
        auto task = [](WorkspaceState *workspace, QUrl url, bool *finished,
                       bool *succeeded) -> QCoro::Task<> {
            *succeeded = co_await workspace->openFile(url);
            *finished = true;
        };
        runDetached(task(ws.get(), QUrl::fromLocalFile(file), &done, &opened),
                    QStringLiteral("Opening in a test"));
        return testsupport::waitUntil([&] { return done; }) && opened;
    }

    // The main window's hooks (text, open file, caret, save).
    void connectHooks()
    {
        MacSyncAdapter *sync = adapter.get();
        QObject::connect(ws.get(), &WorkspaceState::textChanged, sync,
                         [sync] { sync->workspaceTextChanged(); });
        QObject::connect(ws.get(), &WorkspaceState::selectedFileURLChanged, sync,
                         [sync] { sync->sendOpenFile(); });
        QObject::connect(ws.get(), &WorkspaceState::cursorPositionChanged, sync,
                         [sync] { sync->sendCursorPosition(); });
        QObject::connect(ws.get(), &WorkspaceState::fileSaved, sync, [sync](const QUrl &url) {
            if (sync->state().isPaired())
                runDetached(sync->uploadFile(url), QStringLiteral("Upload in a test"));
        });
    }
};

} // namespace adaptertest

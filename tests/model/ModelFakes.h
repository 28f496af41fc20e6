#pragma once

#include "Velto/model/HistoryStore.h"
#include "Velto/model/WorkspaceState.h"
#include "fakes/model/FakePanels.h"
#include "platform/Bookmarks.h"
#include "platform/Defaults.h"

#include <QDateTime>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace modeltest {

// Bookmarks whose bytes are "fake:<serial>:<path>"; each failure mode can be switched on.
class FakeBookmarks : public Bookmarks
{
public:
    std::optional<QByteArray> make(const QUrl &url) override;
    std::optional<Resolved> resolve(const QByteArray &bookmark) override;
    bool startAccess(const QUrl &url) override;
    void stopAccess(const QUrl &url) override;

    bool failMake = false;
    bool failResolve = false;
    bool reportStale = false;
    bool refuseAccess = false;
    int made = 0;
    QList<QUrl> started;
    QList<QUrl> stopped;
};

// A fresh store, history, panels and workspace over a temporary folder; documents live under
// docs/ so the defaults file never shows up in a scan.
class ModelTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    QString docPath(const QString &relative) const;
    QUrl docURL(const QString &relative) const;
    bool write(const QString &relative, const QByteArray &bytes) const;
    QByteArray read(const QString &relative) const;
    // Waits until the workspace applied its latest folder scan.
    bool waitForTree();
    std::unique_ptr<WorkspaceState> makeWorkspace();

    QTemporaryDir tmp;
    std::unique_ptr<Defaults> defaults;
    FakeBookmarks bookmarks;
    FakePanels panels;
    QDateTime now;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<WorkspaceState> ws;
};

} // namespace modeltest

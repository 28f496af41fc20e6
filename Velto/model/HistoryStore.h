#pragma once

#include "core/model/HistoryDateGroup.h"
#include "core/model/HistoryEntry.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

class Bookmarks;
class Defaults;

// Every file and folder the user opened through the open panel, with a bookmark from which a
// later run regains the item. Only the entries are stored (under "historyEntries"); the resolved
// URLs, the existence flags and the active accesses are rebuilt in every run.
class HistoryStore : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // The application's instance (its root builds and owns it), for callers not handed one.
    static HistoryStore &shared();
    // Loads the stored list at once. The clock dates new and refreshed entries.
    HistoryStore(Defaults &defaults, Bookmarks &bookmarks, Clock clock = {},
                 QObject *parent = nullptr);

    static inline const QString key = QStringLiteral("historyEntries");

    const QList<HistoryEntry> &entries() const { return m_entries; }
    const QHash<QUuid, QUrl> &resolvedURLs() const { return m_resolvedURLs; }
    // An id without a value has been neither added nor resolved in this run: treat it as no.
    const QHash<QUuid, bool> &existsStatus() const { return m_existsStatus; }
    const QSet<QUuid> &activeAccess() const { return m_activeAccess; }

    std::optional<HistoryEntry> entry(const QUuid &id) const;

    // The entries newest first, bucketed by age; groups without entries are left out.
    QList<QPair<HistoryDateGroup, QList<HistoryEntry>>> groupedEntries() const;
    QList<QPair<HistoryDateGroup, QList<HistoryEntry>>> groupedEntries(const QDateTime &now) const;

    // Records a newly opened item, or refreshes the date and bookmark of a known path. An item
    // whose bookmark cannot be made is not recorded.
    void add(const QUrl &url, bool isDirectory);
    void remove(const QUuid &id);
    // Resolves every bookmark, renews stale ones and refreshes URLs and existence flags.
    void resolveAll();
    // The item's URL with access started at most once; nothing when it was not resolved or
    // added in this run.
    std::optional<QUrl> startAccess(const QUuid &id);
    void stopAccess(const QUuid &id);

    void save();
    void load();

signals:
    void entriesChanged();
    void resolvedURLsChanged();
    void existsStatusChanged();
    void activeAccessChanged();

private:
    void setEntries(const QList<HistoryEntry> &entries);
    double now() const;

    Defaults &m_defaults;
    Bookmarks &m_bookmarks;
    Clock m_clock;
    QList<HistoryEntry> m_entries;
    QHash<QUuid, QUrl> m_resolvedURLs;
    QHash<QUuid, bool> m_existsStatus;
    QSet<QUuid> m_activeAccess;
};

#include "Velto/model/HistoryStore.h"

#include "platform/Bookmarks.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "platform/RootInstance.h"
#include "platform/Text.h"

#include <QFileInfo>

#include <algorithm>

HistoryStore &HistoryStore::shared()
{
    return RootInstance<HistoryStore>::get();
}

HistoryStore::HistoryStore(Defaults &defaults, Bookmarks &bookmarks, Clock clock, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_bookmarks(bookmarks)
    , m_clock(std::move(clock))
{
    load();
}

double HistoryStore::now() const
{
    return HistoryEntry::referenceSeconds(m_clock ? m_clock() : QDateTime::currentDateTime());
}

std::optional<HistoryEntry> HistoryStore::entry(const QUuid &id) const
{
    for (const HistoryEntry &e : m_entries) {
        if (e.id == id)
            return e;
    }
    return std::nullopt;
}

QList<QPair<HistoryDateGroup, QList<HistoryEntry>>> HistoryStore::groupedEntries() const
{
    return groupedEntries(m_clock ? m_clock() : QDateTime::currentDateTime());
}

QList<QPair<HistoryDateGroup, QList<HistoryEntry>>>
HistoryStore::groupedEntries(const QDateTime &now) const
{
    QList<HistoryEntry> sorted = m_entries;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const HistoryEntry &a, const HistoryEntry &b) {
                         return a.lastOpenedDate > b.lastOpenedDate;
                     });
    QHash<HistoryDateGroup, QList<HistoryEntry>> buckets;
    for (const HistoryEntry &e : sorted)
        buckets[HistoryDateGroup::from(e.lastOpenedDateTime(), now)].append(e);
    QList<QPair<HistoryDateGroup, QList<HistoryEntry>>> groups;
    for (const HistoryDateGroup group : HistoryDateGroup::allCases()) {
        const auto it = buckets.constFind(group);
        if (it != buckets.constEnd())
            groups.append({group, *it});
    }
    return groups;
}

void HistoryStore::add(const QUrl &url, bool isDirectory)
{
    const QString path = pathOf(url);
    const auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const HistoryEntry &e) {
        return canonicallyEqual(e.path, path);
    });
    QUuid id;
    if (found != m_entries.end()) {
        found->lastOpenedDate = now();
        if (auto bookmark = m_bookmarks.make(url))
            found->bookmarkData = *bookmark;
        id = found->id;
    } else {
        const auto bookmark = m_bookmarks.make(url);
        if (!bookmark)
            return;
        id = QUuid::createUuid();
        m_entries.append(HistoryEntry(id, path, isDirectory, *bookmark, now()));
    }
    // Observers of any one field see the others already updated (a new row is never shown as
    // missing for want of its flag).
    m_resolvedURLs.insert(id, url);
    m_existsStatus.insert(id, true);
    emit entriesChanged();
    emit resolvedURLsChanged();
    emit existsStatusChanged();
    save();
}

void HistoryStore::remove(const QUuid &id)
{
    stopAccess(id);
    m_entries.removeIf([&](const HistoryEntry &e) { return e.id == id; });
    m_resolvedURLs.remove(id);
    m_existsStatus.remove(id);
    emit entriesChanged();
    emit resolvedURLsChanged();
    emit existsStatusChanged();
    save();
}

void HistoryStore::resolveAll()
{
    if (m_entries.isEmpty())
        return;
    for (HistoryEntry &e : m_entries) {
        const auto resolved = m_bookmarks.resolve(e.bookmarkData);
        if (!resolved) {
            m_existsStatus.insert(e.id, false);
            continue;
        }
        if (resolved->stale) {
            if (auto renewed = m_bookmarks.make(resolved->url))
                e.bookmarkData = *renewed;
        }
        m_resolvedURLs.insert(e.id, resolved->url);
        m_existsStatus.insert(e.id, QFileInfo::exists(pathOf(resolved->url)));
    }
    emit entriesChanged();
    emit resolvedURLsChanged();
    emit existsStatusChanged();
    save();
}

std::optional<QUrl> HistoryStore::startAccess(const QUuid &id)
{
    const auto it = m_resolvedURLs.constFind(id);
    if (it == m_resolvedURLs.constEnd())
        return std::nullopt;
    const QUrl url = *it;
    if (!m_activeAccess.contains(id) && m_bookmarks.startAccess(url)) {
        m_activeAccess.insert(id);
        emit activeAccessChanged();
    }
    return url;
}

void HistoryStore::stopAccess(const QUuid &id)
{
    if (!m_activeAccess.contains(id))
        return;
    const auto it = m_resolvedURLs.constFind(id);
    if (it != m_resolvedURLs.constEnd())
        m_bookmarks.stopAccess(*it);
    m_activeAccess.remove(id);
    emit activeAccessChanged();
}

void HistoryStore::save()
{
    m_defaults.setData(key, HistoryEntry::encodeList(m_entries));
}

void HistoryStore::load()
{
    const auto stored = m_defaults.data(key);
    if (!stored)
        return;
    if (auto entries = HistoryEntry::decodeList(*stored))
        setEntries(*entries);
}

void HistoryStore::setEntries(const QList<HistoryEntry> &entries)
{
    if (m_entries == entries)
        return;
    m_entries = entries;
    emit entriesChanged();
}

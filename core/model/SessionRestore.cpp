#include "core/model/SessionRestore.h"

#include "platform/Defaults.h"
#include "platform/JsonFields.h"

#include <QJsonObject>

namespace {
const QString lastFolderPathKey = QStringLiteral("lastFolderPath");
const QString lastFilePathKey = QStringLiteral("lastFilePath");
const QString showChatKey = QStringLiteral("showChat");
const QString showOutlineKey = QStringLiteral("showOutline");
const QString scrollSyncKey = QStringLiteral("scrollSync");
const QString cursorPositionsKey = QStringLiteral("cursorPositions");
} // namespace

SessionRestore::SessionRestore(Defaults &defaults)
    : m_defaults(&defaults)
{
}

std::optional<QString> SessionRestore::lastFolderPath() const
{
    return m_defaults->string(lastFolderPathKey);
}

void SessionRestore::setLastFolderPath(const std::optional<QString> &path)
{
    if (path)
        m_defaults->set(lastFolderPathKey, *path);
    else
        m_defaults->remove(lastFolderPathKey);
}

std::optional<QString> SessionRestore::lastFilePath() const
{
    return m_defaults->string(lastFilePathKey);
}

void SessionRestore::setLastFilePath(const std::optional<QString> &path)
{
    if (path)
        m_defaults->set(lastFilePathKey, *path);
    else
        m_defaults->remove(lastFilePathKey);
}

bool SessionRestore::showChat() const
{
    return m_defaults->boolValue(showChatKey);
}

void SessionRestore::setShowChat(bool show)
{
    m_defaults->set(showChatKey, show);
}

bool SessionRestore::showOutline() const
{
    return m_defaults->boolValue(showOutlineKey);
}

void SessionRestore::setShowOutline(bool show)
{
    m_defaults->set(showOutlineKey, show);
}

bool SessionRestore::scrollSync() const
{
    if (!m_defaults->contains(scrollSyncKey))
        return true;
    return m_defaults->boolValue(scrollSyncKey);
}

void SessionRestore::setScrollSync(bool enabled)
{
    m_defaults->set(scrollSyncKey, enabled);
}

QHash<QString, qint64> SessionRestore::cursorPositions() const
{
    QHash<QString, qint64> positions;
    const auto stored = m_defaults->dictionary(cursorPositionsKey);
    if (!stored)
        return positions;
    for (auto it = stored->begin(); it != stored->end(); ++it) {
        const std::optional<qint64> position = jsonfields::exactInteger(it.value());
        if (!position)
            return {};
        positions.insert(it.key(), *position);
    }
    return positions;
}

qint64 SessionRestore::cursorPosition(const QString &path) const
{
    return cursorPositions().value(path, 0);
}

void SessionRestore::setCursorPosition(qint64 position, const QString &path)
{
    const QHash<QString, qint64> positions = cursorPositions();
    QJsonObject map;
    for (auto it = positions.begin(); it != positions.end(); ++it)
        map.insert(it.key(), it.value());
    map.insert(path, position);
    m_defaults->set(cursorPositionsKey, map);
}

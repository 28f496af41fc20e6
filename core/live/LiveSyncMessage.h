#pragma once

#include "core/live/EditOp.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

enum class LiveMessageType { Edit, Cursor, Select, Scroll, Sync, Ping, Pong };

QString toString(LiveMessageType type);
std::optional<LiveMessageType> liveMessageTypeFromString(QStringView text);

// One frame of the live channel. The same value travels in both directions; absent fields are
// left out of the JSON entirely.
struct LiveSyncMessage
{
    LiveMessageType type = LiveMessageType::Ping;
    std::optional<QString> file; // relative to the sync folder, "/" separators
    std::optional<QString> device; // the sender's name
    std::optional<qint64> v; // per-file version
    std::optional<QList<EditOp>> ops;
    std::optional<qint64> pos; // caret in UTF-16 units, passed through unchanged
    std::optional<double> offset; // scroll position, passed through unchanged
    std::optional<QString> text; // full document text
    // How the change or text fits the history of the shared document (see LiveDocument); peers
    // that do not know the key ignore it, so the message still means what its other fields say.
    std::optional<QJsonObject> merge;

    // An edit or sync without a version (std::nullopt) is sent when the file's counter cannot
    // grow any further; peers accept unversioned messages.
    static LiveSyncMessage edit(const QString &file, const QList<EditOp> &ops,
                                std::optional<qint64> v, const QString &device);
    static LiveSyncMessage cursor(const QString &file, qint64 pos, const QString &device);
    static LiveSyncMessage select(const QString &file, const QString &device);
    static LiveSyncMessage scroll(const QString &file, double offset, const QString &device);
    static LiveSyncMessage sync(const QString &file, const QString &text, std::optional<qint64> v,
                                const QString &device);
    static const LiveSyncMessage &ping();
    static const LiveSyncMessage &pong();

    QJsonObject toJson() const;
    // Compact UTF-8 JSON; nothing when the message cannot be written as JSON (a scroll offset
    // that is not a finite number).
    std::optional<QByteArray> encode() const;

    // Nothing for a frame that breaks the wire format: not JSON, not an object, missing or unknown
    // "type", a present key of the wrong type, an integer out of range. Unknown keys are ignored
    // and JSON null counts as absent.
    static std::optional<LiveSyncMessage> decode(const QByteArray &json);
    static std::optional<LiveSyncMessage> fromJson(const QJsonObject &object);
};

#include "core/live/LiveSyncMessage.h"

#include "platform/JsonFields.h"
#include "platform/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <array>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr std::array<std::pair<LiveMessageType, const char16_t *>, 7> typeNames {{
    {LiveMessageType::Edit, u"edit"},
    {LiveMessageType::Cursor, u"cursor"},
    {LiveMessageType::Select, u"select"},
    {LiveMessageType::Scroll, u"scroll"},
    {LiveMessageType::Sync, u"sync"},
    {LiveMessageType::Ping, u"ping"},
    {LiveMessageType::Pong, u"pong"},
}};

// A "\ud800" escape without its partner decodes into a string that is no Unicode text; such a
// frame is as malformed as one with a value of the wrong type.
bool hasOnlyWellFormedText(const LiveSyncMessage &m)
{
    const auto wellFormed
        = [](const std::optional<QString> &s) { return !s || isWellFormedUtf16(*s); };
    if (!wellFormed(m.file) || !wellFormed(m.device) || !wellFormed(m.text))
        return false;
    if (m.ops) {
        for (const EditOp &op : *m.ops) {
            if (!wellFormed(op.text))
                return false;
        }
    }
    return true;
}

} // namespace

QString toString(LiveMessageType type)
{
    for (const auto &[value, name] : typeNames) {
        if (value == type)
            return QString::fromUtf16(name);
    }
    return {};
}

std::optional<LiveMessageType> liveMessageTypeFromString(QStringView text)
{
    for (const auto &[value, name] : typeNames) {
        if (text == QStringView(name))
            return value;
    }
    return std::nullopt;
}

namespace {
// The fields every outgoing message carries.
LiveSyncMessage addressed(LiveMessageType type, const QString &file, const QString &device)
{
    LiveSyncMessage m;
    m.type = type;
    m.file = file;
    m.device = device;
    return m;
}
} // namespace

LiveSyncMessage LiveSyncMessage::edit(const QString &file, const QList<EditOp> &ops,
                                      std::optional<qint64> v, const QString &device)
{
    LiveSyncMessage m = addressed(LiveMessageType::Edit, file, device);
    m.v = v;
    m.ops = ops;
    return m;
}

LiveSyncMessage LiveSyncMessage::cursor(const QString &file, qint64 pos, const QString &device)
{
    LiveSyncMessage m = addressed(LiveMessageType::Cursor, file, device);
    m.pos = pos;
    return m;
}

LiveSyncMessage LiveSyncMessage::select(const QString &file, const QString &device)
{
    LiveSyncMessage m = addressed(LiveMessageType::Select, file, device);
    return m;
}

LiveSyncMessage LiveSyncMessage::scroll(const QString &file, double offset, const QString &device)
{
    LiveSyncMessage m = addressed(LiveMessageType::Scroll, file, device);
    m.offset = offset;
    return m;
}

LiveSyncMessage LiveSyncMessage::sync(const QString &file, const QString &text,
                                      std::optional<qint64> v, const QString &device)
{
    LiveSyncMessage m = addressed(LiveMessageType::Sync, file, device);
    m.v = v;
    m.text = text;
    return m;
}

const LiveSyncMessage &LiveSyncMessage::ping()
{
    static const LiveSyncMessage message {LiveMessageType::Ping};
    return message;
}

const LiveSyncMessage &LiveSyncMessage::pong()
{
    static const LiveSyncMessage message {LiveMessageType::Pong};
    return message;
}

QJsonObject LiveSyncMessage::toJson() const
{
    QJsonObject o;
    o.insert("type"_L1, toString(type));
    if (file)
        o.insert("file"_L1, *file);
    if (device)
        o.insert("device"_L1, *device);
    if (v)
        o.insert("v"_L1, *v);
    if (ops) {
        QJsonArray array;
        for (const EditOp &op : *ops)
            array.append(op.toJson());
        o.insert("ops"_L1, array);
    }
    if (pos)
        o.insert("pos"_L1, *pos);
    if (offset)
        o.insert("offset"_L1, *offset);
    if (text)
        o.insert("text"_L1, *text);
    if (merge)
        o.insert("merge"_L1, *merge);
    return o;
}

std::optional<QByteArray> LiveSyncMessage::encode() const
{
    // JSON has no NaN or infinity; Qt would quietly write null instead.
    if (offset && !std::isfinite(*offset))
        return std::nullopt;
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<LiveSyncMessage> LiveSyncMessage::decode(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJson(document.object());
}

std::optional<LiveSyncMessage> LiveSyncMessage::fromJson(const QJsonObject &object)
{
    const QJsonValue typeValue = object.value("type"_L1);
    if (!typeValue.isString())
        return std::nullopt;
    const auto type = liveMessageTypeFromString(typeValue.toString());
    if (!type)
        return std::nullopt;

    LiveSyncMessage m;
    m.type = *type;
    const auto file = jsonfields::string(object, "file"_L1);
    const auto device = jsonfields::string(object, "device"_L1);
    const auto v = jsonfields::integer(object, "v"_L1);
    const auto pos = jsonfields::integer(object, "pos"_L1);
    const auto offset = jsonfields::number(object, "offset"_L1);
    const auto text = jsonfields::string(object, "text"_L1);
    if (!file.ok || !device.ok || !v.ok || !pos.ok || !offset.ok || !text.ok)
        return std::nullopt;
    m.file = file.value;
    m.device = device.value;
    m.v = v.value;
    m.pos = pos.value;
    m.offset = offset.value;
    m.text = text.value;

    const QJsonValue opsValue = object.value("ops"_L1);
    if (!jsonfields::isAbsent(opsValue)) {
        if (!opsValue.isArray())
            return std::nullopt;
        QList<EditOp> ops;
        const QJsonArray array = opsValue.toArray();
        ops.reserve(array.size());
        for (const QJsonValue &entry : array) {
            if (!entry.isObject())
                return std::nullopt;
            auto op = EditOp::fromJson(entry.toObject());
            if (!op)
                return std::nullopt;
            ops.append(std::move(*op));
        }
        m.ops = std::move(ops);
    }
    if (!hasOnlyWellFormedText(m))
        return std::nullopt;
    // An extension: a value of another shape is ignored like an unknown key.
    if (const QJsonValue merge = object.value("merge"_L1); merge.isObject())
        m.merge = merge.toObject();
    return m;
}

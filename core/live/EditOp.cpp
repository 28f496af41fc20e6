#include "core/live/EditOp.h"

#include "platform/JsonFields.h"

using namespace Qt::StringLiterals;

QString toString(EditOpKind kind)
{
    return kind == EditOpKind::Insert ? u"insert"_s : u"delete"_s;
}

std::optional<EditOpKind> editOpKindFromString(QStringView text)
{
    if (text == u"insert")
        return EditOpKind::Insert;
    if (text == u"delete")
        return EditOpKind::Delete;
    return std::nullopt;
}

EditOp EditOp::insert(qint64 pos, const QString &text)
{
    return EditOp {EditOpKind::Insert, pos, text, std::nullopt};
}

EditOp EditOp::deletion(qint64 pos, qint64 len)
{
    return EditOp {EditOpKind::Delete, pos, std::nullopt, len};
}

QJsonObject EditOp::toJson() const
{
    QJsonObject o;
    o.insert("op"_L1, toString(op));
    o.insert("pos"_L1, pos);
    if (text)
        o.insert("text"_L1, *text);
    if (len)
        o.insert("len"_L1, *len);
    return o;
}

std::optional<EditOp> EditOp::fromJson(const QJsonObject &object)
{
    const QJsonValue kindValue = object.value("op"_L1);
    if (!kindValue.isString())
        return std::nullopt;
    const auto kind = editOpKindFromString(kindValue.toString());
    const auto position = jsonfields::integer(object, "pos"_L1);
    const auto text = jsonfields::string(object, "text"_L1);
    const auto len = jsonfields::integer(object, "len"_L1);
    if (!kind || !position.ok || !position.value || !text.ok || !len.ok)
        return std::nullopt;
    return EditOp {*kind, *position.value, text.value, len.value};
}

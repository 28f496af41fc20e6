#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Readers for optional wire fields: a missing key or JSON null is absent (Field::Absent), a value
// of the wrong JSON type is a violation that drops the whole frame.
namespace jsonfields {

template<typename T> struct Field
{
    bool ok = true;
    std::optional<T> value;
};

inline bool isAbsent(const QJsonValue &v)
{
    return v.isUndefined() || v.isNull();
}

// Integers must be integral and fit into 64 bits; Qt answers the default for anything else, so
// two different defaults tell a real value from a fallback.
inline Field<qint64> integer(const QJsonObject &o, QLatin1StringView key)
{
    const QJsonValue v = o.value(key);
    if (isAbsent(v))
        return {};
    if (!v.isDouble() || v.toInteger(0) != v.toInteger(1))
        return {false, std::nullopt};
    return {true, v.toInteger()};
}

inline Field<QString> string(const QJsonObject &o, QLatin1StringView key)
{
    const QJsonValue v = o.value(key);
    if (isAbsent(v))
        return {};
    if (!v.isString())
        return {false, std::nullopt};
    return {true, v.toString()};
}

inline Field<double> number(const QJsonObject &o, QLatin1StringView key)
{
    const QJsonValue v = o.value(key);
    if (isAbsent(v))
        return {};
    if (!v.isDouble())
        return {false, std::nullopt};
    return {true, v.toDouble()};
}

} // namespace jsonfields

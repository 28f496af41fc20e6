#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// The one set of readers for JSON from outside (wire messages, stored defaults, request bodies).
namespace jsonfields {

// A JSON number that is a whole number in the 64-bit range; nothing for a fraction, a value out
// of range or another type.
std::optional<qint64> exactInteger(const QJsonValue &v);
// A JSON number that is a finite whole number of any size (for values clamped afterwards).
std::optional<double> wholeNumber(const QJsonValue &v);

inline bool isAbsent(const QJsonValue &v)
{
    return v.isUndefined() || v.isNull();
}

// An optional field: a missing key or JSON null is absent (ok, no value); a value of the wrong
// type is a violation (not ok).
template<typename T> struct Field
{
    bool ok = true;
    std::optional<T> value;
};

Field<qint64> integer(const QJsonValue &v);
Field<QString> string(const QJsonValue &v);
Field<double> number(const QJsonValue &v);
Field<bool> boolean(const QJsonValue &v);

template<typename Key> Field<qint64> integer(const QJsonObject &o, Key key)
{
    return integer(o.value(key));
}
template<typename Key> Field<QString> string(const QJsonObject &o, Key key)
{
    return string(o.value(key));
}
template<typename Key> Field<double> number(const QJsonObject &o, Key key)
{
    return number(o.value(key));
}
template<typename Key> Field<bool> boolean(const QJsonObject &o, Key key)
{
    return boolean(o.value(key));
}

} // namespace jsonfields

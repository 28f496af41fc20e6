#include "platform/JsonFields.h"

#include <cmath>

namespace jsonfields {

std::optional<qint64> exactInteger(const QJsonValue &v)
{
    // Qt answers toInteger()'s default for a fraction or a value beyond 64 bits (which it keeps
    // as a double), so two different defaults tell a real value from a fallback.
    if (!v.isDouble() || v.toInteger(0) != v.toInteger(1))
        return std::nullopt;
    return v.toInteger();
}

std::optional<double> wholeNumber(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d)
        return std::nullopt;
    return d;
}

Field<qint64> integer(const QJsonValue &v)
{
    if (isAbsent(v))
        return {};
    const auto value = exactInteger(v);
    return {value.has_value(), value};
}

Field<QString> string(const QJsonValue &v)
{
    if (isAbsent(v))
        return {};
    if (!v.isString())
        return {false, std::nullopt};
    return {true, v.toString()};
}

Field<double> number(const QJsonValue &v)
{
    if (isAbsent(v))
        return {};
    if (!v.isDouble())
        return {false, std::nullopt};
    return {true, v.toDouble()};
}

Field<bool> boolean(const QJsonValue &v)
{
    if (isAbsent(v))
        return {};
    if (!v.isBool())
        return {false, std::nullopt};
    return {true, v.toBool()};
}

} // namespace jsonfields

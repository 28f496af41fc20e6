#include "core/sync/SSEEventType.h"

#include <array>

namespace {

struct Name
{
    SSEEventType type;
    const char *raw;
    const char *caseName;
};

constexpr std::array<Name, 8> names {{
    {SSEEventType::change, "change", "change"},
    {SSEEventType::fileRequest, "file_request", "fileRequest"},
    {SSEEventType::fileAvailable, "file_available", "fileAvailable"},
    {SSEEventType::fileNotAvailable, "file_not_available", "fileNotAvailable"},
    {SSEEventType::structureChanged, "structure_changed", "structureChanged"},
    {SSEEventType::cacheInterrupt, "cache_interrupt", "cacheInterrupt"},
    {SSEEventType::deviceChanged, "device_changed", "deviceChanged"},
    {SSEEventType::keepalive, "keepalive", "keepalive"},
}};

} // namespace

QString toString(SSEEventType type)
{
    for (const Name &n : names) {
        if (n.type == type)
            return QString::fromLatin1(n.raw);
    }
    return {};
}

std::optional<SSEEventType> sseEventTypeFromString(const QString &raw)
{
    for (const Name &n : names) {
        if (raw == QLatin1String(n.raw))
            return n.type;
    }
    return std::nullopt;
}

QString caseName(SSEEventType type)
{
    for (const Name &n : names) {
        if (n.type == type)
            return QString::fromLatin1(n.caseName);
    }
    return {};
}

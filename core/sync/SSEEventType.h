#pragma once

#include <QString>

#include <optional>

// The event names of the backend's event stream, matched by their exact raw value.
enum class SSEEventType {
    change,
    fileRequest,
    fileAvailable,
    fileNotAvailable,
    structureChanged,
    cacheInterrupt,
    deviceChanged,
    keepalive,
};

// The raw value ("file_request").
QString toString(SSEEventType type);
// Exact, case-sensitive; any other text gives nothing.
std::optional<SSEEventType> sseEventTypeFromString(const QString &raw);
// The case name ("fileRequest"), as log lines show it.
QString caseName(SSEEventType type);

// One event of the stream: no payload beyond its id, its folder and its type.
struct SSEChangeNotification
{
    SSEChangeNotification() = default;
    SSEChangeNotification(std::optional<QString> lastEventID_, std::optional<QString> folderId_,
                          SSEEventType eventType_)
        : lastEventID(std::move(lastEventID_))
        , folderId(std::move(folderId_))
        , eventType(eventType_)
    {
    }

    std::optional<QString> lastEventID;
    std::optional<QString> folderId;
    SSEEventType eventType = SSEEventType::change;

    bool operator==(const SSEChangeNotification &) const = default;
};

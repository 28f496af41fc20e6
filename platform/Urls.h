#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Building request addresses from untrusted values.
namespace urls {

// A query value with everything but unreserved characters and "/" percent-encoded, so "&", "+"
// or "=" in it cannot change the query's meaning.
QString encodeQueryValue(const QString &value);
// A value as one path segment: everything but unreserved characters percent-encoded ("/"
// included).
QString encodePathSegment(const QString &value);

// The WebSocket address for an address: ws for http, wss for https, ws and wss as they are.
// Nothing for another scheme or an address without a host.
std::optional<QUrl> webSocketURL(QUrl url);

} // namespace urls

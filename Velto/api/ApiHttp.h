#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// One request as the router sees it. `path` is the raw request target, query string included and
// not decoded; header names are lower-cased.
struct ApiRequest
{
    QString method = QStringLiteral("GET");
    QString path = QStringLiteral("/");
    QJsonObject body;
    QHash<QString, QString> headers;
};

// One answer: status, content type and body.
struct ApiAnswer
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;

    // Pretty-printed with sorted keys, 200; 500 "json error" if it cannot be serialised.
    static ApiAnswer json(const QJsonObject &object);
    // A fixed compact JSON text such as {"error":"missing text"}.
    static ApiAnswer literal(int status, QByteArrayView jsonText);
    static ApiAnswer text(const QString &text);
};

// The wire format of the local API: request parsing, query parameters, the fixed response framing
// and the JSON writer. Free of sockets so every rule can be checked on plain bytes.
namespace apihttp {

inline constexpr QByteArrayView jsonType = "application/json";
inline constexpr QByteArrayView textType = "text/plain; charset=utf-8";
inline constexpr QByteArrayView htmlType = "text/html; charset=utf-8";

// Splits at the first separator, skipping empty pieces: leading separators are dropped, the rest
// after the first non-empty piece is taken whole, and an empty rest is dropped
// (":a:b" → [a, b]; "a::b" → [a, :b]; "Name:" → [Name]; "===" → []).
QStringList splitFirst(QStringView text, QChar separator);

// Parses the received text: head up to the first blank line, body = everything after it.
ApiRequest parseRequest(const QByteArray &text);

// Percent-decoding that fails on a malformed escape or on bytes that are not UTF-8; '+' stays.
std::optional<QString> percentDecodeStrict(QStringView text);

// The decoded value of one query parameter of a request target, or nothing.
std::optional<QString> parseQuery(const QString &target, const QString &name);

bool isValidUtf8(QByteArrayView bytes);

// "HTTP/1.1 <status> OK" with exactly Content-Type, Content-Length, Access-Control-Allow-Origin
// and Connection, then the body.
QByteArray responseBytes(int status, QByteArrayView contentType, QByteArrayView body);

// The answer to a browser's CORS pre-check: no body, the origins, methods and headers a page may
// use (the token travels in Authorization or X-Api-Token).
QByteArray preflightResponseBytes();

// Indented JSON (two spaces, one member per line, keys sorted at every level).
QByteArray prettyJson(const QJsonObject &object);

// Typed body fields: a value of the wrong JSON type counts as missing.
std::optional<QString> textField(const QJsonObject &body, const QString &key);
std::optional<bool> flagField(const QJsonObject &body, const QString &key);
// Integral, finite numbers only, clamped to [0, INT_MAX].
std::optional<int> integerField(const QJsonObject &body, const QString &key);

// Equality of two byte strings in time that depends only on their lengths.
bool constantTimeEquals(QByteArrayView a, QByteArrayView b);

} // namespace apihttp

#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The bridge's HTTP client for Velto's local API: one HTTP/1.1 request over a TCP connection to
// 127.0.0.1, read until the answer's Content-Length is in (or the connection closes); 60 s at
// most. Main thread only.
namespace loopbackhttp {

struct Answer
{
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};
// The outcome of one request: the answer, or nothing and why Velto could not be reached.
using Done = std::function<void(std::optional<Answer> answer, QString failure)>;

// Velto's API takes at most this much per request, and the bridge reads no more of an answer
// either (what the document tools carry is the same text both ways).
inline constexpr qsizetype maxAnswerBytes = 1'000'000;

// Starts the request and calls `done` once, later. Returns a function that abandons the request;
// `done` is then never called.
std::function<void()> request(quint16 port, const QString &token, const QByteArray &method,
                              const QByteArray &target, const QByteArray &body, Done done);

} // namespace loopbackhttp

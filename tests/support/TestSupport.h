#pragma once

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace testsupport {

// Registers a function that the test main runs before the QApplication exists (custom URL
// schemes, application attributes). Use as a namespace-scope static object.
struct BeforeApplication
{
    explicit BeforeApplication(void (*hook)());
};

// Processes events until the predicate holds or the deadline passes; returns the predicate.
bool waitUntil(const std::function<bool()> &predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Writes bytes to a file (creating folders); returns false on failure.
bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// The reason phrase of an HTTP status line, for the loopback fake servers.
QByteArray httpReasonPhrase(int status);

} // namespace testsupport

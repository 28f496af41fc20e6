#pragma once

#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "fakes/model/FakePanels.h"
#include "platform/Defaults.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>
#include <memory>

namespace apitest {

// What a raw client saw on one connection.
struct RawResult
{
    bool connected = false;
    QByteArray received;
    bool endOfStream = false; // the server closed cleanly
    bool reset = false; // the server reset the connection
    bool timedOut = false; // nothing more arrived within the receive timeout
};

struct RawOptions
{
    // Sleep in the client thread between chunks so they leave as separate segments.
    int pauseMs = 0;
    // Finish sending with shutdown(SHUT_WR), as HTTP/1.0 style clients do.
    bool halfClose = false;
    // After the first chunk, read until the interim "100 Continue" before sending the rest.
    bool awaitContinue = false;
    int receiveTimeoutMs = 8000;
    bool ipv6 = false;
};

// A blocking POSIX client running in its own thread while the test's event loop serves it.
std::future<RawResult> startRaw(quint16 port, QList<QByteArray> chunks, RawOptions options = {});
// Starts the client and spins the event loop until it is done.
RawResult runRaw(quint16 port, QList<QByteArray> chunks, RawOptions options = {});

struct Reply
{
    int status = 0;
    QByteArray head; // status line and headers, without the blank line
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool closed = false;

    QByteArray header(const QByteArray &name) const;
    QJsonObject json() const;
};
Reply parseReply(const RawResult &raw);

// A server on a fresh port with its own settings store, workspace and short timeouts.
class ApiFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    virtual ApiLimits limits() const;

    Reply request(const QByteArray &method, const QByteArray &target, const QByteArray &body = {},
                  const QList<QByteArray> &extraHeaders = {});
    Reply get(const QByteArray &target) { return request("GET", target); }
    Reply post(const QByteArray &target, const QJsonObject &body);
    QString path(const QString &name) const { return dir.filePath(name); }
    // Moves the server's listener to a port nobody listened on; returns it (0 on failure).
    quint16 listenOnFreePort();

    QTemporaryDir dir;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<AppSettings> settings;
    FakePanels panels;
    std::unique_ptr<WorkspaceState> workspace;
    std::unique_ptr<DebugServer> server;
    quint16 port = 0;
};

} // namespace apitest

#pragma once

#include <QtGlobal>

#include <functional>

namespace testsupport {

// A loopback port nobody listens on at the moment. Another process (tests run in parallel) may
// take it before it is used: where the listen can be retried, use listenOnFreePort.
quint16 unusedPort();

// Starts something on a loopback port nobody listens on, trying another port when listen()
// fails. Returns the port listen() accepted, 0 when every attempt failed.
quint16 listenOnFreePort(const std::function<bool(quint16 port)> &listen);

// A loopback port that refuses connections as long as the process runs: a socket of ours holds
// it bound without listening, so no other program can start listening there meanwhile.
quint16 refusingPort();

} // namespace testsupport

#pragma once

#include <QtGlobal>

#include <functional>

namespace testsupport {

// Starts something on a loopback port nobody listens on. A probed free port may be taken by
// another process (tests run in parallel) before listen() gets it, so another port is tried
// when listen() fails. Returns the port listen() accepted, 0 when every attempt failed.
quint16 listenOnFreePort(const std::function<bool(quint16 port)> &listen);

// A loopback port that refuses connections as long as the process runs: a socket of ours holds
// it bound without listening, so no other program can start listening there meanwhile.
quint16 refusingPort();

} // namespace testsupport

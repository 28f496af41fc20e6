#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QtGlobal>

namespace testsupport {

// Sends one request without a body on a fresh connection to 127.0.0.1:`port` and processes events
// (so an in-process server answers) until the server closes the connection; returns the answer's
// body as a JSON object, empty when it is none.
QJsonObject requestJson(quint16 port, const QByteArray &method, const QByteArray &target);

} // namespace testsupport

// velto_sync_demo <port>: serves a sync folder "Notes" (id 42, token "demo-token") holding
// hello.md on 127.0.0.1:<port>, the live channel included, and after a device connected to the
// live channel, joins it as the device "Tablet" and types a line into hello.md every few seconds.
#include "core/live/LiveSyncEngine.h"
#include "core/live/TextDiff.h"
#include "fakes/live/FakeLiveRelay.h"
#include "fakes/sync/FakeSyncBackend.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace {

// Passes each connection to the relay when its request line names the live channel, else to the
// backend.
class Router : public QObject
{
public:
    Router(quint16 backend, quint16 relay)
        : m_backend(backend)
        , m_relay(relay)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_server.nextPendingConnection())
                route(client);
        });
    }
    bool listen(quint16 port) { return m_server.listen(QHostAddress::LocalHost, port); }

private:
    void route(QTcpSocket *client)
    {
        connect(client, &QTcpSocket::readyRead, client, [this, client] {
            if (client->property("target").isValid())
                return;
            const QByteArray head = client->peek(4096);
            const qsizetype end = head.indexOf("\r\n");
            if (end < 0)
                return;
            const bool live = head.left(end).contains("/live");
            auto *target = new QTcpSocket(client);
            client->setProperty("target", true);
            connect(target, &QTcpSocket::connected, client, [client, target] {
                target->write(client->readAll());
                connect(client, &QTcpSocket::readyRead, target,
                        [client, target] { target->write(client->readAll()); });
            });
            connect(target, &QTcpSocket::readyRead, client,
                    [client, target] { client->write(target->readAll()); });
            connect(target, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            target->connectToHost(QHostAddress::LocalHost, live ? m_relay : m_backend);
        });
    }

    QTcpServer m_server;
    quint16 m_backend;
    quint16 m_relay;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const quint16 port = argc > 1 ? quint16(QByteArray(argv[1]).toUShort()) : 43210;

    FakeSyncBackend backend;
    FakeLiveRelay relay;
    if (!backend.listen() || !relay.listen())
        return 1;
    backend.setAutoEvents(true);
    const FakeSyncBackend::Folder folder = backend.createFolder(QStringLiteral("Notes"));
    backend.addDevice(folder.id, QStringLiteral("Tablet"), QStringLiteral("ipad"));
    backend.addDevice(folder.id, QStringLiteral("Laptop"), QStringLiteral("mac"));
    Router router(backend.port(), relay.port());
    if (!router.listen(port))
        return 1;
    std::printf("backend http://127.0.0.1:%u folder %lld token %s\n", port,
                static_cast<long long>(folder.id), qPrintable(folder.token));
    std::fflush(stdout);

    const QString file = QStringLiteral("hello.md");
    QString text;
    LiveSyncEngine *peer = nullptr;
    QTimer typing;
    QObject::connect(&relay, &FakeLiveRelay::connectionOpened, &app, [&](int) {
        if (peer)
            return;
        peer = new LiveSyncEngine(QString::number(folder.id), folder.token,
                                  QStringLiteral("http://127.0.0.1:%1").arg(relay.port()),
                                  QStringLiteral("Tablet"), {}, nullptr, &app);
        // Types once it has the document, which the application announces when it opens it.
        peer->open([&](LiveSyncMessage m, LiveOrder) -> QCoro::Task<> {
            if (m.file == file && m.text) {
                text = *m.text;
                if (!typing.isActive())
                    typing.start(3000);
            } else if (m.file == file && m.ops) {
                text = TextDiff::apply(*m.ops, text);
            }
            if (m.file == file && m.v)
                peer->adopt(file, *m.v);
            co_return;
        });
    });
    int line = 0;
    QObject::connect(&typing, &QTimer::timeout, &app, [&] {
        const QString next = text + QStringLiteral("Zeile %1 vom Tablet\n").arg(++line);
        peer->sendEdit(file, TextDiff::diff(text, next));
        text = next;
    });
    return app.exec();
}

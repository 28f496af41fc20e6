#pragma once

#include <QObject>
#include <QString>
#include <QTcpServer>

// A QTcpServer that hands out the accepted descriptors instead of QTcpSocket objects.
class ApiTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

signals:
    void descriptorAccepted(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override;
};

// The API's TCP listener: one server on 127.0.0.1 and one on ::1 with the same port, never on
// other interfaces (the API reads and writes files behind a plaintext token).
class ApiListener : public QObject
{
    Q_OBJECT
public:
    explicit ApiListener(QObject *parent = nullptr);
    ~ApiListener() override;

    // Listens on 127.0.0.1 (required) and ::1 (best effort: IPv6 may be off).
    bool listen(quint16 port);
    QString errorString() const { return m_error; }
    quint16 port() const;
    bool isListeningOnIPv6() const;
    void close();

signals:
    void descriptorAccepted(qintptr descriptor);

private:
    ApiTcpServer *m_ipv4;
    ApiTcpServer *m_ipv6;
    QString m_error;
};

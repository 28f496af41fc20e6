#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

class QTcpServer;

// The DNS-SD service type under which the application is found on the local network.
inline constexpr char bonjourServiceType[] = "_velto._tcp";

// Publishes DNS-SD services: the Avahi client in the application, a fake in tests.
class ServiceRegistrar
{
public:
    enum class State { Waiting, Ready, Failed, Cancelled };
    // Called on the thread that registered, for every change of the publication.
    using StateHandler = std::function<void(State)>;

    struct Service
    {
        QString instanceName;
        QByteArray type;
        quint16 port = 0;
        QList<QPair<QByteArray, QByteArray>> txt;
    };

    // A running publication; destroying it withdraws the service.
    class Registration
    {
    public:
        virtual ~Registration();
    };

    virtual ~ServiceRegistrar();
    // Nothing, with `error` set, when publishing cannot even begin (no Avahi daemon).
    virtual std::unique_ptr<Registration> registerService(const Service &service,
                                                          StateHandler onState, QString *error)
        = 0;

    // The Avahi client, polled on a thread of its own.
    static std::unique_ptr<ServiceRegistrar> avahi();
};

// Makes the running application discoverable on the local network: one service whose instance
// name and TXT record carry the computer's name. The TCP port behind it accepts no conversation;
// every connection is closed at once. There is no stop: the advertisement lasts as long as the
// process.
class BonjourAdvertiser : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAdvertising READ isAdvertising NOTIFY isAdvertisingChanged)

public:
    using NameProvider = std::function<QString()>;

    // The application's instance (its root builds and owns it), for callers not handed one.
    static BonjourAdvertiser &shared();

    // An empty provider means the host name.
    explicit BonjourAdvertiser(std::unique_ptr<ServiceRegistrar> registrar,
                               NameProvider computerName = {},
                               const QHostAddress &listenAddress = QHostAddress::Any,
                               QObject *parent = nullptr);
    ~BonjourAdvertiser() override;

    // Starts advertising unless the service is already up. A listener that has not come up (or
    // has failed) is replaced, so there is only ever one.
    void start();
    void handleState(ServiceRegistrar::State state);

    bool isAdvertising() const { return m_isAdvertising; }
    // The listener's port; 0 while there is none.
    quint16 port() const;
    // The computer's name, "Mac" when the system has none.
    QString computerName() const;
    // "Velto-" + name, cut at a code point so that it fits one DNS label (63 bytes of UTF-8).
    static QString instanceNameFor(const QString &computerName);

Q_SIGNALS:
    void isAdvertisingChanged(bool isAdvertising);

private:
    void setAdvertising(bool advertising);
    void dropListener();

    std::unique_ptr<ServiceRegistrar> m_registrar;
    NameProvider m_computerName;
    QHostAddress m_listenAddress;
    QTcpServer *m_listener = nullptr;
    std::unique_ptr<ServiceRegistrar::Registration> m_registration;
    QString m_advertisedName;
    quint64 m_generation = 0;
    bool m_isAdvertising = false;
};

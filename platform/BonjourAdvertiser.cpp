#include "platform/BonjourAdvertiser.h"

#include "platform/RootInstance.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QPointer>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcBonjour, "velto.bonjour")

constexpr qsizetype dnsLabelBytes = 63;
constexpr qsizetype txtStringBytes = 255;

// The longest head of `text` whose UTF-8 form has at most `bytes` bytes, never splitting a
// surrogate pair.
QString truncatedToUtf8Bytes(const QString &text, qsizetype bytes)
{
    qsizetype used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t c = text[i].unicode();
        qsizetype units = 1;
        qsizetype size = 3;
        if (c < 0x80)
            size = 1;
        else if (c < 0x800)
            size = 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size()
                 && QChar::isLowSurrogate(text[i + 1].unicode())) {
            units = 2;
            size = 4;
        }
        if (used + size > bytes)
            break;
        used += size;
        i += units;
    }
    return text.first(i);
}

// Hands registration states from the Avahi thread to the thread that registered. The
// registration may be gone by the time a state arrives; the weak reference notices.
struct StateRelay
{
    ServiceRegistrar::StateHandler handler;
};

class AvahiRegistration final : public ServiceRegistrar::Registration
{
public:
    static std::unique_ptr<AvahiRegistration> create(const ServiceRegistrar::Service &service,
                                                     ServiceRegistrar::StateHandler onState,
                                                     QString *error)
    {
        std::unique_ptr<AvahiRegistration> r(new AvahiRegistration(service, std::move(onState)));
        r->m_poll = avahi_threaded_poll_new();
        if (!r->m_poll) {
            *error = u"Could not create the Avahi event loop"_s;
            return nullptr;
        }
        int code = 0;
        // Without a daemon this fails at once (even with NO_FAIL when there is no system bus).
        r->m_client = avahi_client_new(avahi_threaded_poll_get(r->m_poll), AVAHI_CLIENT_NO_FAIL,
                                       &AvahiRegistration::clientChanged, r.get(), &code);
        if (!r->m_client) {
            *error = QString::fromUtf8(avahi_strerror(code));
            return nullptr;
        }
        if (avahi_threaded_poll_start(r->m_poll) < 0) {
            *error = u"Could not start the Avahi event loop"_s;
            return nullptr;
        }
        r->m_running = true;
        return r;
    }

    ~AvahiRegistration() override
    {
        // No callback may run once the poll thread has stopped; then everything can go.
        if (m_running)
            avahi_threaded_poll_stop(m_poll);
        if (m_client)
            avahi_client_free(m_client); // frees the entry group as well
        if (m_poll)
            avahi_threaded_poll_free(m_poll);
    }

private:
    AvahiRegistration(const ServiceRegistrar::Service &service,
                      ServiceRegistrar::StateHandler onState)
        : m_name(service.instanceName.toUtf8())
        , m_type(service.type)
        , m_port(service.port)
        , m_txt(service.txt)
        , m_relay(std::make_shared<StateRelay>(StateRelay {std::move(onState)}))
    {
    }

    // Runs on the Avahi thread (or inside avahi_client_new); the poll lock is held.
    static void clientChanged(AvahiClient *client, AvahiClientState state, void *userdata)
    {
        auto *self = static_cast<AvahiRegistration *>(userdata);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            self->publish(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            if (self->m_group)
                avahi_entry_group_reset(self->m_group);
            self->report(ServiceRegistrar::State::Waiting);
            break;
        case AVAHI_CLIENT_CONNECTING:
        case AVAHI_CLIENT_FAILURE:
            // The daemon went away: whatever it held of the group is gone with it. The group
            // object itself is released with the client.
            self->m_group = nullptr;
            self->report(state == AVAHI_CLIENT_FAILURE ? ServiceRegistrar::State::Failed
                                                       : ServiceRegistrar::State::Waiting);
            break;
        }
    }

    static void groupChanged(AvahiEntryGroup *group, AvahiEntryGroupState state, void *userdata)
    {
        auto *self = static_cast<AvahiRegistration *>(userdata);
        switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            self->report(ServiceRegistrar::State::Ready);
            break;
        case AVAHI_ENTRY_GROUP_COLLISION: {
            // Another host uses the name: take the next alternative and publish again.
            char *alternative = avahi_alternative_service_name(self->m_name.constData());
            self->m_name = alternative;
            avahi_free(alternative);
            avahi_entry_group_reset(group);
            self->publish(avahi_entry_group_get_client(group));
            break;
        }
        case AVAHI_ENTRY_GROUP_FAILURE:
            self->report(ServiceRegistrar::State::Failed);
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
        }
    }

    void publish(AvahiClient *client)
    {
        if (!m_group) {
            m_group = avahi_entry_group_new(client, &AvahiRegistration::groupChanged, this);
            if (!m_group) {
                report(ServiceRegistrar::State::Failed);
                return;
            }
        }
        if (!avahi_entry_group_is_empty(m_group))
            return;
        for (int attempt = 0; attempt < 16; ++attempt) {
            AvahiStringList *txt = nullptr;
            for (const auto &[key, value] : m_txt)
                txt = avahi_string_list_add_pair(txt, key.constData(), value.constData());
            const int result = avahi_entry_group_add_service_strlst(
                m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                m_name.constData(), m_type.constData(), nullptr, nullptr, m_port, txt);
            avahi_string_list_free(txt);
            if (result == AVAHI_ERR_COLLISION) {
                char *alternative = avahi_alternative_service_name(m_name.constData());
                m_name = alternative;
                avahi_free(alternative);
                avahi_entry_group_reset(m_group);
                continue;
            }
            if (result < 0 || avahi_entry_group_commit(m_group) < 0)
                report(ServiceRegistrar::State::Failed);
            else
                report(ServiceRegistrar::State::Waiting);
            return;
        }
        report(ServiceRegistrar::State::Failed);
    }

    void report(ServiceRegistrar::State state)
    {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [relay = std::weak_ptr<StateRelay>(m_relay), state] {
                if (const auto r = relay.lock())
                    r->handler(state);
            },
            Qt::QueuedConnection);
    }

    QByteArray m_name;
    QByteArray m_type;
    quint16 m_port;
    QList<QPair<QByteArray, QByteArray>> m_txt;
    std::shared_ptr<StateRelay> m_relay;
    AvahiThreadedPoll *m_poll = nullptr;
    AvahiClient *m_client = nullptr;
    AvahiEntryGroup *m_group = nullptr;
    bool m_running = false;
};

class AvahiServiceRegistrar final : public ServiceRegistrar
{
public:
    std::unique_ptr<Registration> registerService(const Service &service, StateHandler onState,
                                                  QString *error) override
    {
        return AvahiRegistration::create(service, std::move(onState), error);
    }
};

} // namespace

ServiceRegistrar::Registration::~Registration() = default;
ServiceRegistrar::~ServiceRegistrar() = default;

std::unique_ptr<ServiceRegistrar> ServiceRegistrar::avahi()
{
    return std::make_unique<AvahiServiceRegistrar>();
}

BonjourAdvertiser &BonjourAdvertiser::shared()
{
    return RootInstance<BonjourAdvertiser>::get();
}

BonjourAdvertiser::BonjourAdvertiser(std::unique_ptr<ServiceRegistrar> registrar,
                                     NameProvider computerName, const QHostAddress &listenAddress,
                                     QObject *parent)
    : QObject(parent)
    , m_registrar(std::move(registrar))
    , m_computerName(std::move(computerName))
    , m_listenAddress(listenAddress)
{
}

BonjourAdvertiser::~BonjourAdvertiser()
{
    m_registration.reset();
}

void BonjourAdvertiser::start()
{
    if (m_isAdvertising)
        return;
    dropListener();

    auto *listener = new QTcpServer(this);
    if (!listener->listen(m_listenAddress, 0)) {
        qCWarning(lcBonjour).noquote()
            << u"[Bonjour] Listener failed: %1"_s.arg(listener->errorString());
        delete listener;
        return;
    }
    // Only the advertisement matters; nobody gets to talk.
    connect(listener, &QTcpServer::newConnection, listener, [listener] {
        while (QTcpSocket *socket = listener->nextPendingConnection()) {
            socket->abort();
            socket->deleteLater();
        }
    });

    const QString name = computerName();
    ServiceRegistrar::Service service;
    service.instanceName = instanceNameFor(name);
    service.type = bonjourServiceType;
    service.port = listener->serverPort();
    service.txt = {{"hostname", truncatedToUtf8Bytes(name, txtStringBytes - 9).toUtf8()}};

    m_advertisedName = name;
    const quint64 generation = ++m_generation;
    QString error;
    auto registration = m_registrar->registerService(
        service,
        [self = QPointer<BonjourAdvertiser>(this), generation](ServiceRegistrar::State state) {
            if (self && self->m_generation == generation)
                self->handleState(state);
        },
        &error);
    if (!registration) {
        ++m_generation;
        qCWarning(lcBonjour).noquote() << u"[Bonjour] Listener failed: %1"_s.arg(error);
        delete listener;
        return;
    }
    m_listener = listener;
    m_registration = std::move(registration);
}

void BonjourAdvertiser::handleState(ServiceRegistrar::State state)
{
    switch (state) {
    case ServiceRegistrar::State::Ready:
        setAdvertising(true);
        qCInfo(lcBonjour).noquote() << u"[Bonjour] Advertising as Velto-%1"_s.arg(m_advertisedName);
        break;
    case ServiceRegistrar::State::Failed:
    case ServiceRegistrar::State::Cancelled:
        setAdvertising(false);
        break;
    case ServiceRegistrar::State::Waiting:
        break;
    }
}

quint16 BonjourAdvertiser::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

QString BonjourAdvertiser::computerName() const
{
    const QString name = m_computerName ? m_computerName() : QSysInfo::machineHostName();
    return name.isEmpty() ? u"Mac"_s : name;
}

QString BonjourAdvertiser::instanceNameFor(const QString &computerName)
{
    const QString prefix = u"Velto-"_s;
    return prefix + truncatedToUtf8Bytes(computerName, dnsLabelBytes - prefix.size());
}

void BonjourAdvertiser::setAdvertising(bool advertising)
{
    if (m_isAdvertising == advertising)
        return;
    m_isAdvertising = advertising;
    Q_EMIT isAdvertisingChanged(advertising);
}

void BonjourAdvertiser::dropListener()
{
    ++m_generation; // states of the replaced registration no longer count
    m_registration.reset();
    if (m_listener) {
        m_listener->close();
        m_listener->deleteLater();
        m_listener = nullptr;
    }
}

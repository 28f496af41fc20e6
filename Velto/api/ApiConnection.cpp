#include "Velto/api/ApiConnection.h"

#include "Velto/api/ApiHttp.h"

#include <QList>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView continueLine = "HTTP/1.1 100 Continue\r\n\r\n";
// Reads per readiness notification, so one flooding client cannot hold the main thread.
constexpr int readsPerNotification = 16;
// A body without a length ends when the client stops sending for this long (unless it ends its
// side or closes a chunked body first).
constexpr int unframedBodyPauseMs = 250;

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Content-Length, Expect and a chunked Transfer-Encoding from a complete head. Content-Length:
// decimal digits only, else absent (-1); a value too long to hold counts as larger than any cap.
void readFraming(const QByteArray &head, qint64 &contentLength, bool &expectContinue, bool &chunked)
{
    contentLength = -1;
    expectContinue = false;
    chunked = false;
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool digits = !value.isEmpty();
            for (const char c : value)
                digits = digits && c >= '0' && c <= '9';
            if (!digits)
                contentLength = -1;
            else if (value.size() > 15)
                contentLength = std::numeric_limits<qint64>::max() / 2;
            else
                contentLength = value.toLongLong();
        } else if (name == "expect") {
            expectContinue = value.compare("100-continue", Qt::CaseInsensitive) == 0;
        } else if (name == "transfer-encoding") {
            chunked = value.toLower().contains("chunked");
        }
    }
}

} // namespace

ApiConnection::ApiConnection(int descriptor, const ApiLimits &limits, QObject *parent)
    : QObject(parent)
    , m_fd(descriptor)
    , m_limits(limits)
{
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &ApiConnection::onReadable);
    m_timer.start(int(m_limits.readTimeout.count()), Qt::CoarseTimer, this);
    noteProgress();
}

void ApiConnection::noteProgress()
{
    m_lastProgress = steadyMs();
}

int ApiConnection::evictionTier() const
{
    switch (m_state) {
    case State::Waiting:
        return 2;
    case State::Writing:
        return 1;
    case State::Reading:
    case State::Lingering:
    case State::Closed:
        break;
    }
    return 0;
}

ApiConnection::~ApiConnection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ApiConnection::onReadable()
{
    char buffer[65536];
    for (int i = 0; i < readsPerNotification && m_fd >= 0; ++i) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            takeInput(buffer, n);
            continue;
        }
        if (n == 0) {
            onEndOfInput();
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            closeNow(); // reset by the client: nobody is left to answer
        return;
    }
}

void ApiConnection::takeInput(const char *data, qsizetype size)
{
    noteProgress();
    if (m_state != State::Reading) {
        m_inputLeft = true; // more than the request said it carries; discarded
        return;
    }
    m_in.append(data, size);
    scanHead();
}

void ApiConnection::scanHead()
{
    if (m_headEnd < 0) {
        m_headEnd = m_in.indexOf("\r\n\r\n");
        if (m_headEnd < 0) {
            if (m_in.size() > m_limits.maxRequestBytes)
                refuseTooLarge();
            return;
        }
        readFraming(m_in.left(m_headEnd), m_contentLength, m_expectContinue, m_chunked);
        emit headReceived(m_in.left(m_headEnd + 4));
        if (m_state != State::Reading)
            return; // answered on the head alone
        if (m_contentLength < 0) {
            // Nothing announces a body and none came with the head: there is none.
            if (m_in.size() == m_headEnd + 4 && !m_chunked && !m_expectContinue) {
                complete(m_in, false);
                return;
            }
            m_unframedBody = true;
        }
    }
    if (m_unframedBody) {
        if (m_in.size() > m_limits.maxRequestBytes) {
            refuseTooLarge();
            return;
        }
        const qsizetype bodySize = m_in.size() - m_headEnd - 4;
        if (m_chunked
            && (m_in.endsWith("\r\n0\r\n\r\n") || (bodySize == 5 && m_in.endsWith("0\r\n\r\n")))) {
            complete(m_in, false);
            return;
        }
        if (m_expectContinue && !m_sentContinue) {
            m_sentContinue = true;
            ::send(m_fd, continueLine.data(), size_t(continueLine.size()), MSG_NOSIGNAL);
        }
        m_quietTimer.start(unframedBodyPauseMs, this);
        return;
    }
    const qint64 needed = m_headEnd + 4 + m_contentLength;
    if (needed > m_limits.maxRequestBytes) {
        // Refused before the body is read (and before a client waiting for "100 Continue" sends
        // it): handing the route an empty or cut body would make it report a missing field, or
        // act on nothing.
        refuseTooLarge();
        return;
    }
    if (m_in.size() >= needed) {
        m_inputLeft = m_in.size() > needed;
        complete(m_in.left(needed), false);
        return;
    }
    if (m_expectContinue && !m_sentContinue) {
        m_sentContinue = true;
        ::send(m_fd, continueLine.data(), size_t(continueLine.size()), MSG_NOSIGNAL);
    }
}

void ApiConnection::respondToHead(const QByteArray &bytes)
{
    if (m_state != State::Reading || m_headEnd < 0 || m_fd < 0)
        return;
    // Body bytes still on their way are drained after the answer: closing with unread input
    // would reset the connection before the client reads the answer.
    m_inputLeft = m_in.size() > m_headEnd + 4 || m_contentLength > 0 || m_chunked;
    m_state = State::Waiting;
    m_timer.stop();
    m_in.clear();
    respond(bytes);
}

void ApiConnection::refuseTooLarge()
{
    m_state = State::Waiting;
    m_timer.stop();
    m_quietTimer.stop();
    m_inputLeft = true;
    m_in.clear();
    emit requestTooLarge();
}

void ApiConnection::onEndOfInput()
{
    m_peerClosed = true;
    // The descriptor stays readable at end of input; stop listening so the loop does not spin.
    m_readNotifier->setEnabled(false);
    if (m_state == State::Reading) {
        if (m_in.isEmpty())
            closeNow();
        else
            complete(m_in, false);
    } else if (m_state == State::Lingering) {
        closeNow();
    }
}

void ApiConnection::complete(QByteArray text, bool cut)
{
    m_state = State::Waiting;
    m_timer.stop();
    m_quietTimer.stop();
    noteProgress();
    m_inputLeft = m_inputLeft || cut;
    m_in.clear();
    if (!apihttp::isValidUtf8(text)) {
        closeNow();
        return;
    }
    emit requestReceived(text);
}

void ApiConnection::respond(const QByteArray &bytes)
{
    if (m_state != State::Waiting || m_fd < 0)
        return;
    m_state = State::Writing;
    noteProgress();
    m_out = bytes;
    m_written = 0;
    flushOutput();
}

void ApiConnection::flushOutput()
{
    while (m_written < m_out.size()) {
        const ssize_t n = ::send(m_fd, m_out.constData() + m_written,
                                 size_t(m_out.size() - m_written), MSG_NOSIGNAL);
        if (n > 0) {
            m_written += n;
            noteProgress();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!m_writeNotifier) {
                m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
                connect(m_writeNotifier, &QSocketNotifier::activated, this,
                        &ApiConnection::onWritable);
            }
            m_writeNotifier->setEnabled(true);
            return;
        }
        closeNow(); // the client went away
        return;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    m_out.clear();
    afterWrite();
}

void ApiConnection::onWritable()
{
    if (m_state == State::Writing)
        flushOutput();
}

void ApiConnection::afterWrite()
{
    if (!m_peerClosed)
        onReadable(); // pick up what arrived meanwhile (and a pending end of input)
    if (m_fd < 0)
        return;
    if (m_peerClosed || !m_inputLeft) {
        closeNow();
        return;
    }
    // Finish our side, then read and discard until the client closes or the linger time ends.
    m_state = State::Lingering;
    ::shutdown(m_fd, SHUT_WR);
    m_readNotifier->setEnabled(true);
    m_timer.start(int(m_limits.lingerTimeout.count()), Qt::CoarseTimer, this);
}

void ApiConnection::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_quietTimer.timerId()) {
        m_quietTimer.stop();
        if (m_state == State::Reading)
            complete(m_in, true);
        return;
    }
    if (event->timerId() != m_timer.timerId())
        return QObject::timerEvent(event);
    m_timer.stop();
    if (m_state == State::Reading) {
        if (m_in.isEmpty())
            closeNow();
        else
            complete(m_in, true);
    } else if (m_state == State::Lingering) {
        closeNow();
    }
}

void ApiConnection::closeNow()
{
    if (m_fd < 0)
        return;
    m_timer.stop();
    m_quietTimer.stop();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    m_state = State::Closed;
    emit closed();
    deleteLater();
}

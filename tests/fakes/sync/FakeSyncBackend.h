#pragma once

#include "fakes/http/LoopbackHttpServer.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRegularExpression>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QTcpSocket;

// One request as the fake backend received it.
struct FakeSyncRequest
{
    QByteArray method;
    QString path; // raw, still percent-encoded
    QString rawQuery; // raw, without "?"
    QList<QPair<QString, QString>> query; // percent-decoded ("+" stays "+")
    QMap<QByteArray, QByteArray> headers; // names lower-case
    QByteArray body;
    int connectionId = 0;
    qint64 receivedAtMs = 0;

    bool hasHeader(const QByteArray &name) const { return headers.contains(name.toLower()); }
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    std::optional<QString> queryValue(const QString &key) const;
    QJsonObject json() const;
};

// A hazard for the next matching requests: an answer of our choosing, no answer at all, a closed
// connection, bytes that are not HTTP, a redirect, an answer that stops; optionally after a delay.
struct FakeSyncFault
{
    enum class Action {
        Respond, // status + headers + body (status 0: answer normally, after the delay)
        Hang, // never answer; the connection stays open
        Close, // close the connection without answering
        Garbage, // answer with bytes that are not HTTP, then close
        Redirect, // status (302 by default) with Location
        Stall, // write the body bytes as they are (a head, say) and then nothing more
    };

    QByteArray method; // empty: any
    QRegularExpression path; // matched against the raw path
    Action action = Action::Respond;
    int status = 500;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    int delayMs = 0;
    QString location;
    // Respond: the Content-Length the head announces instead of the body's size.
    std::optional<qint64> contentLength;
    // -1: every matching request. Qt re-sends a request once when the connection closes before
    // an answer (Close, Garbage): use 2 or -1 to make the client see the failure.
    int times = 1;
};

// An in-process sync backend on 127.0.0.1 for tests: every endpoint the client calls, with a small
// in-memory model (folders, files with their bytes, structures, a change log, file requests,
// devices, pairing sessions), blob downloads at /blob/<key>, an event stream that tests write to
// byte by byte, hazards per route and a log of every request. Each answer closes its connection.
class FakeSyncBackend : public QObject
{
    Q_OBJECT
public:
    struct Folder
    {
        qint64 id = 0;
        QString name;
        QString token;
        std::optional<qint64> ownerId;
        std::optional<QString> sourceDeviceName;
    };

    struct File
    {
        qint64 id = 0;
        qint64 folderId = 0;
        QString filename;
        QString relativePath;
        QString contentType;
        QByteArray bytes;
        qint64 size = 0;
        QString sha256;
        bool hasContent = false;
        QString s3Key;
        std::optional<QString> sourceDevice;
    };

    struct FileRequest
    {
        qint64 id = 0;
        qint64 folderId = 0;
        qint64 fileId = 0;
        QString status;
    };

    struct PairSession
    {
        QString code;
        QString secret;
        qint64 expiresIn = 0;
        std::optional<QString> deviceName;
        std::optional<QString> deviceType;
        std::optional<qint64> folderId; // set on confirmation
        std::optional<qint64> deviceId;
        bool expired = false;
    };

    struct Device
    {
        qint64 id = 0;
        qint64 folderId = 0;
        QString name;
        QString type;
    };

    struct Stream
    {
        QPointer<QTcpSocket> socket;
        QString folderSegment;
        std::optional<QByteArray> lastEventId;
        int connectionId = 0;
    };

    enum class ETagStyle { Quoted, Weak, Bare, Missing };

    explicit FakeSyncBackend(QObject *parent = nullptr);
    ~FakeSyncBackend() override;

    // Binds to the address (127.0.0.1 by default) on a free port.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const;
    QUrl baseURL() const; // http://127.0.0.1:<port>
    QString baseURLString() const { return baseURL().toString(); }

    // Model
    Folder createFolder(const QString &name, std::optional<qint64> ownerId = std::nullopt);
    std::optional<Folder> folder(qint64 id) const;
    qint64 addFile(qint64 folderId, const QString &relativePath, const QByteArray &bytes,
                   bool hasContent = true);
    std::optional<File> file(qint64 id) const;
    QList<File> files(qint64 folderId) const;
    // The stored structure entries (as the last PUT sent them, or as set here).
    void setStructure(qint64 folderId, const QJsonArray &entries);
    QJsonArray storedStructure(qint64 folderId) const;
    QString structureHash(qint64 folderId) const;
    void setETagStyle(ETagStyle style) { m_etagStyle = style; }
    qint64 addFileRequest(qint64 folderId, qint64 fileId);
    QList<FileRequest> fileRequests(qint64 folderId) const;
    qint64 addDevice(qint64 folderId, const QString &name,
                     const QString &type = QStringLiteral("desktop"));
    QList<Device> devices(qint64 folderId) const;
    qint64 latestServerId() const { return m_nextServerId - 1; }
    // Every mutation also emits an event on the open streams (change, structure_changed,
    // file_request) with the new change id.
    void setAutoEvents(bool on) { m_autoEvents = on; }
    QString blobURL(const QString &key) const;

    // Pairing
    void setPairExpiresIn(qint64 seconds) { m_pairExpiresIn = seconds; }
    QList<PairSession> pairSessions() const { return m_pairSessions; }
    // Confirms a requested code for a folder, as the holding device would.
    bool confirmPairingCode(const QString &code, qint64 folderId);
    void expirePairing(const QString &code);

    // Hazards
    void addFault(const FakeSyncFault &fault);
    void clearFaults() { m_faults.clear(); }
    void failNext(const QByteArray &method, const QString &pathPattern, int status,
                  const QByteArray &body = {}, int times = 1);
    void hangNext(const QByteArray &method, const QString &pathPattern, int times = 1);
    void closeNext(const QByteArray &method, const QString &pathPattern, int times = 1);
    void garbageNext(const QByteArray &method, const QString &pathPattern, int times = 1);
    void redirectNext(const QByteArray &method, const QString &pathPattern, const QString &location,
                      int status = 302, int times = 1);
    void delayNext(const QByteArray &method, const QString &pathPattern, int delayMs,
                   int times = 1);
    // Answers the next matching requests with this JSON body and status.
    void respondNext(const QByteArray &method, const QString &pathPattern, int status,
                     const QJsonObject &body, int times = 1);

    // Request log
    QList<FakeSyncRequest> requests() const { return m_requests; }
    QList<FakeSyncRequest> requests(const QByteArray &method, const QString &pathPattern) const;
    int requestCount(const QByteArray &method, const QString &pathPattern) const
    {
        return int(requests(method, pathPattern).size());
    }
    void clearRequests() { m_requests.clear(); }
    // Connections currently open (including hanging ones).
    int openConnectionCount() const;

    // Event stream
    void pushSse(const QByteArray &bytes);
    void pushEvent(qint64 id, const QString &type);
    void pushEvent(const QString &type); // without id
    void keepalive(qint64 id);
    void closeStreams(); // the body ends normally
    void abortStreams(); // the connection drops
    // The status for the next stream connections (0: a normal stream).
    void setSseStatus(int status) { m_sseStatus = status; }
    int openStreamCount() const;
    // Stream bytes still in our sockets' buffers, for tests that pace what they send.
    qint64 unsentSseBytes() const;
    int totalStreamCount() const { return m_totalStreams; }
    QList<std::optional<QByteArray>> streamLastEventIds() const { return m_streamLastEventIds; }

signals:
    void requestReceived(const FakeSyncRequest &request);
    void streamOpened();
    void streamClosed();

private:
    struct Response
    {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        std::optional<qint64> contentLength; // the body's size when unset
    };

    void onRequest(const LoopbackHttpRequest &received, QTcpSocket *socket);
    void dispatch(QTcpSocket *connection, const FakeSyncRequest &request);
    void serve(QTcpSocket *connection, const FakeSyncRequest &request);
    void write(QTcpSocket *connection, const Response &response, bool head);
    std::optional<FakeSyncFault> takeFault(const FakeSyncRequest &request);
    Response route(QTcpSocket *connection, const FakeSyncRequest &request, bool &streaming);
    Folder *authorize(const QString &segment, const FakeSyncRequest &request, Response &denied);
    qint64 logChange(const File &file, const QString &action);
    void emitAuto(qint64 id, const QString &type);
    QJsonObject fileInfoJson(const File &f) const;
    QJsonArray mergedStructure(qint64 folderId) const;

    LoopbackHttpServer *m_http;
    QList<FakeSyncRequest> m_requests;
    QList<FakeSyncFault> m_faults;

    QMap<qint64, Folder> m_folders;
    QMap<qint64, File> m_files;
    QMap<qint64, QJsonArray> m_structures;
    QList<QJsonObject> m_changes;
    QMap<qint64, FileRequest> m_fileRequests;
    QMap<qint64, Device> m_devices;
    QList<PairSession> m_pairSessions;
    qint64 m_nextFolderId = 42;
    qint64 m_nextFileId = 1000;
    qint64 m_nextServerId = 1;
    qint64 m_nextRequestId = 500;
    qint64 m_nextDeviceId = 700;
    qint64 m_pairExpiresIn = 300;
    ETagStyle m_etagStyle = ETagStyle::Quoted;
    bool m_autoEvents = false;

    QList<Stream> m_streams;
    int m_sseStatus = 0;
    int m_totalStreams = 0;
    QList<std::optional<QByteArray>> m_streamLastEventIds;
};

#pragma once

#include "core/sync/SSEParser.h"
#include "core/sync/SyncFailure.h"
#include "core/sync/SyncTiming.h"
#include "core/sync/SyncWaker.h"

#include <QNetworkRequest>
#include <QObject>
#include <QTimer>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// One open event-stream request on its own network access manager (own connections, no cache,
// so an old stream and a new one never share anything). Parsed notifications queue up until they
// are taken; waker() is notified whenever there is something new to look at.
class SyncEventStream : public QObject
{
    Q_OBJECT
public:
    SyncEventStream(QNetworkRequest request, std::optional<QString> folderId,
                    const SyncTiming &timing, const SyncLimits &limits, QObject *parent = nullptr);
    ~SyncEventStream() override;

    void start();
    // Ends the stream without a failure.
    void cancel();

    std::optional<SSEChangeNotification> take();
    bool isFinished() const { return m_finished; }
    const std::optional<SyncFailure> &failure() const { return m_failure; }
    SyncWaker &waker() { return m_waker; }

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void finish();

    QNetworkRequest m_request;
    std::optional<QString> m_folderId;
    double m_totalTimeout;
    QNetworkAccessManager *m_nam;
    QNetworkReply *m_reply = nullptr;
    QTimer m_totalTimer;
    SSEParser m_parser;
    QList<SSEChangeNotification> m_queue;
    SyncWaker m_waker;
    bool m_headAccepted = false;
    bool m_cancelled = false;
    bool m_totalTimedOut = false;
    bool m_finished = false;
    std::optional<SyncFailure> m_failure;
};

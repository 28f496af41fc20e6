#pragma once

#include "core/sync/SSEParser.h"
#include "core/sync/SyncFailure.h"
#include "core/sync/SyncTiming.h"

#include "platform/AsyncQueue.h"

#include <QNetworkRequest>
#include <QObject>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// One open event-stream request on its own network access manager (own connections, no cache,
// so an old stream and a new one never share anything). Parsed notifications queue up until they
// are taken, folded together where that changes nothing for the consumer (a flood of empty
// events or keep-alives waits as one); the queue finishes when the stream ends (failure() then
// says why, if it failed).
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

    AsyncQueue<SSEChangeNotification> &notifications() { return m_queue; }
    bool isFinished() const { return m_finished; }
    const std::optional<SyncFailure> &failure() const { return m_failure; }

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void finish();

    QNetworkRequest m_request;
    std::optional<QString> m_folderId;
    std::chrono::milliseconds m_totalTimeout;
    QNetworkAccessManager *m_nam;
    QNetworkReply *m_reply = nullptr;
    std::unique_ptr<ClockTimer> m_totalTimer;
    SSEParser m_parser;
    AsyncQueue<SSEChangeNotification> m_queue;
    bool m_headAccepted = false;
    bool m_cancelled = false;
    bool m_totalTimedOut = false;
    bool m_finished = false;
    std::optional<SyncFailure> m_failure;
};

#pragma once

#include <QObject>

#include <functional>
#include <memory>

// The shared state behind a CancelToken; its signal lets a SignalWait wake on cancellation.
class CancelNotifier : public QObject
{
    Q_OBJECT
public:
    bool isCancelled() const { return m_cancelled; }
    void cancel();

Q_SIGNALS:
    // Emitted once, synchronously from cancel().
    void cancelled();

private:
    bool m_cancelled = false;
};

// A shared cancellation flag: the one way work is told to stop. Copies share the flag; cancel()
// sets it once and runs every registered callback at once. Work that sees the flag ends quietly
// (a cancelled request is never reported as an error).
class CancelToken
{
public:
    CancelToken();

    void cancel() const;
    bool isCancelled() const;

    // Calls fn once when the token is cancelled (at once when it already is), as long as the
    // context object lives.
    void onCancel(QObject *context, std::function<void()> fn) const;

    // For SignalWait::orOn(token.notifier(), &CancelNotifier::cancelled).
    CancelNotifier *notifier() const { return m_state.get(); }

    bool operator==(const CancelToken &other) const { return m_state == other.m_state; }

private:
    std::shared_ptr<CancelNotifier> m_state;
};

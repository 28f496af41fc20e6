#pragma once

#include <QObject>

#include <functional>
#include <memory>

class CancelTokenState : public QObject
{
    Q_OBJECT
public:
    bool cancelled = false;
signals:
    void cancelRequested();
};

// A shared cancellation flag. Copies share the flag; cancel() sets it once and runs every
// registered callback. Work that sees the flag ends with a Cancelled failure that callers never
// report as an error.
class CancelToken
{
public:
    CancelToken();

    void cancel() const;
    bool isCancelled() const;

    // Calls fn once when the token is cancelled (at once when it already is), as long as the
    // context object lives.
    void onCancel(QObject *context, std::function<void()> fn) const;

    bool operator==(const CancelToken &other) const { return m_state == other.m_state; }

private:
    std::shared_ptr<CancelTokenState> m_state;
};

#pragma once

#include "core/live/LiveSyncMessage.h"

#include <QCoro/QCoroAsyncGenerator>
#include <QCoro/QCoroTask>

#include <memory>
#include <ostream>

// Readable values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const EditOp &op, std::ostream *os)
{
    *os << (op.op == EditOpKind::Insert ? "insert(" : "delete(") << op.pos;
    if (op.text)
        *os << ", \"" << op.text->toStdString() << '"';
    if (op.len)
        *os << ", " << *op.len;
    *os << ')';
}

namespace livetest {

struct Collected
{
    QList<LiveSyncMessage> messages;
    bool ended = false;
};

// Drains a message stream in the background into `out`.
inline QCoro::Task<> collect(QCoro::AsyncGenerator<LiveSyncMessage> stream,
                             std::shared_ptr<Collected> out)
{
    auto it = co_await stream.begin();
    while (it != stream.end()) {
        out->messages.append(*it);
        co_await ++it;
    }
    out->ended = true;
}

inline std::shared_ptr<Collected> startCollecting(QCoro::AsyncGenerator<LiveSyncMessage> stream)
{
    auto out = std::make_shared<Collected>();
    collect(std::move(stream), out);
    return out;
}

inline QString json(const LiveSyncMessage &message)
{
    return QString::fromUtf8(message.encode().value_or(QByteArray()));
}

} // namespace livetest

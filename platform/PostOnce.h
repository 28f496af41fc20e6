#pragma once

#include <QPointer>

#include <functional>
#include <memory>

class QObject;

// "Do this soon, once": the call runs from the context's event loop, once however often it was
// asked for before it ran. Asking again while it runs queues the next one. Destroying the helper
// or the context drops a call on the way.
class PostOnce
{
public:
    PostOnce(QObject *context, std::function<void()> call);
    ~PostOnce();
    PostOnce(const PostOnce &) = delete;
    PostOnce &operator=(const PostOnce &) = delete;

    void post();
    // Drops the call on the way, if any.
    void cancel();
    // Makes the call on the way now, if any, instead of from the event loop.
    void flush();
    bool isPending() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

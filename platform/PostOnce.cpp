#include "platform/PostOnce.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

struct PostOnce::State
{
    QPointer<QObject> context;
    std::function<void()> call;
    bool pending = false;
};

PostOnce::PostOnce(QObject *context, std::function<void()> call)
    : m_state(std::make_shared<State>(State {context, std::move(call)}))
{
}

PostOnce::~PostOnce() = default;

void PostOnce::post()
{
    if (m_state->pending || !m_state->context)
        return;
    m_state->pending = true;
    QMetaObject::invokeMethod(
        m_state->context.data(),
        [weak = std::weak_ptr<State>(m_state)] {
            const auto state = weak.lock();
            if (!state || !state->pending)
                return;
            state->pending = false;
            state->call();
        },
        Qt::QueuedConnection);
}

void PostOnce::cancel()
{
    m_state->pending = false;
}

void PostOnce::flush()
{
    if (!std::exchange(m_state->pending, false))
        return;
    m_state->call();
}

bool PostOnce::isPending() const
{
    return m_state->pending;
}

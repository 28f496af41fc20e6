#include "core/sync/CancelToken.h"

CancelToken::CancelToken()
    : m_state(std::make_shared<CancelTokenState>())
{
}

void CancelToken::cancel() const
{
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    emit m_state->cancelRequested();
}

bool CancelToken::isCancelled() const
{
    return m_state->cancelled;
}

void CancelToken::onCancel(QObject *context, std::function<void()> fn) const
{
    if (m_state->cancelled) {
        fn();
        return;
    }
    QObject::connect(m_state.get(), &CancelTokenState::cancelRequested, context, std::move(fn),
                     Qt::SingleShotConnection);
}

#include "platform/CancelToken.h"

void CancelNotifier::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    Q_EMIT cancelled();
}

CancelToken::CancelToken()
    : m_state(std::make_shared<CancelNotifier>())
{
}

void CancelToken::cancel() const
{
    m_state->cancel();
}

bool CancelToken::isCancelled() const
{
    return m_state->isCancelled();
}

void CancelToken::onCancel(QObject *context, std::function<void()> fn) const
{
    if (m_state->isCancelled()) {
        fn();
        return;
    }
    QObject::connect(m_state.get(), &CancelNotifier::cancelled, context, std::move(fn),
                     Qt::SingleShotConnection);
}

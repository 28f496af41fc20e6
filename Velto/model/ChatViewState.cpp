#include "Velto/model/ChatViewState.h"

ChatViewState::ChatViewState(QObject *parent)
    : QObject(parent)
{
}

void ChatViewState::setPendingAction(std::optional<PendingAIAction> action)
{
    m_pendingAction = std::move(action);
    emit pendingActionChanged();
}

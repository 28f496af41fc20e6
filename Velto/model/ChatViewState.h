#pragma once

#include "core/ai/AIAction.h"

#include <QObject>
#include <QString>

#include <optional>

// An AI action chosen in the editor, waiting for the chat panel to take it up.
struct PendingAIAction
{
    QString selectedText;
    AIAction action = AIAction::rewrite;
    std::optional<QString> instruction; // the custom action's own instruction

    friend bool operator==(const PendingAIAction &, const PendingAIAction &) = default;
};

// The hand-over of editor AI actions to the chat panel, one per editor area. The editor area sets
// the pending action; the chat panel takes it and clears it. Every write notifies, so the same
// action chosen twice runs twice.
class ChatViewState : public QObject
{
    Q_OBJECT
public:
    explicit ChatViewState(QObject *parent = nullptr);

    const std::optional<PendingAIAction> &pendingAction() const { return m_pendingAction; }
    void setPendingAction(std::optional<PendingAIAction> action);

signals:
    void pendingActionChanged();

private:
    std::optional<PendingAIAction> m_pendingAction;
};

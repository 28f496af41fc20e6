#include "core/ai/ChatMessage.h"

ChatMessage::ChatMessage(Role role, QString content, QUuid id)
    : m_id(id)
    , m_role(role)
    , m_content(std::move(content))
{
}

QString ChatMessage::toString(Role role)
{
    switch (role) {
    case Role::user:
        return QStringLiteral("user");
    case Role::assistant:
        return QStringLiteral("assistant");
    case Role::system:
        return QStringLiteral("system");
    }
    return {};
}

std::optional<ChatMessage::Role> ChatMessage::roleFromString(const QString &raw)
{
    for (Role role : {Role::user, Role::assistant, Role::system}) {
        if (raw == toString(role))
            return role;
    }
    return std::nullopt;
}

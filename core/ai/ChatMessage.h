#pragma once

#include <QString>
#include <QUuid>

#include <optional>

// One turn of a conversation. Identity and role are fixed; the content grows while a reply
// streams into it.
class ChatMessage
{
public:
    // The raw values are also the role names every provider understands.
    enum class Role {
        user,
        assistant,
        system,
    };

    static QString toString(Role role);
    static std::optional<Role> roleFromString(const QString &raw);

    ChatMessage(Role role, QString content, QUuid id = QUuid::createUuid());

    QUuid id() const { return m_id; }
    Role role() const { return m_role; }
    QString content() const { return m_content; }
    void setContent(const QString &content) { m_content = content; }

    friend bool operator==(const ChatMessage &a, const ChatMessage &b)
    {
        return a.m_id == b.m_id && a.m_role == b.m_role && a.m_content == b.m_content;
    }
    friend bool operator!=(const ChatMessage &a, const ChatMessage &b) { return !(a == b); }

private:
    QUuid m_id;
    Role m_role;
    QString m_content;
};

#pragma once

#include "core/sync/SSEEventType.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Turns the bytes of an event stream into notifications. Lines end at CRLF, LF or a lone CR, also
// when the CR and the LF arrive in different reads; empty lines are delivered, since they complete
// events. A line longer than the cap is dropped up to its end, so a server that never sends a line
// break cannot make us hold unbounded memory.
class SSEParser
{
public:
    SSEParser(std::optional<QString> folderId, qint64 maxLineBytes);

    // Appends the notifications completed by these bytes.
    void feed(const QByteArray &bytes, QList<SSEChangeNotification> &out);

    // Handles one line without its terminator (exposed for tests of the field rules).
    void processLine(const QString &line, QList<SSEChangeNotification> &out);

    // Number of lines dropped for being too long.
    int droppedLines() const { return m_droppedLines; }

    // Removes spaces, tabs and other horizontal space from both ends.
    static QString trimHorizontal(const QString &text);

private:
    void endLine(QList<SSEChangeNotification> &out);

    std::optional<QString> m_folderId;
    qint64 m_maxLineBytes;
    QByteArray m_line;
    bool m_skipLF = false;
    bool m_overlong = false;
    bool m_atStart = true;
    int m_droppedLines = 0;
    std::optional<QString> m_currentId;
    std::optional<QString> m_currentType;
};

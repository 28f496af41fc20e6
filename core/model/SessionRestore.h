#pragma once

#include <QHash>
#include <QString>

#include <optional>

class Defaults;

// The few values a new run needs to continue where the last one stopped: the last folder and
// file, the panel flags and the caret of every file ever opened. Every read and write goes
// straight to the store; nothing is cached, so two instances over one store always agree.
class SessionRestore
{
public:
    explicit SessionRestore(Defaults &defaults);

    std::optional<QString> lastFolderPath() const;
    void setLastFolderPath(const std::optional<QString> &path); // none removes the key
    std::optional<QString> lastFilePath() const;
    void setLastFilePath(const std::optional<QString> &path);

    bool showChat() const;
    void setShowChat(bool show);
    bool showOutline() const;
    void setShowOutline(bool show);
    bool scrollSync() const; // true while nothing is stored
    void setScrollSync(bool enabled);

    // The stored caret of a path (exact string match), or 0.
    qint64 cursorPosition(const QString &path) const;
    void setCursorPosition(qint64 position, const QString &path);

    // The stored caret map. One value that is not an exact integer sets the whole map aside.
    QHash<QString, qint64> cursorPositions() const;

private:
    Defaults *m_defaults;
};

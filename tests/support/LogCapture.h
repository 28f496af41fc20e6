#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace testsupport {

// Collects log lines while it lives: the process log (the program's informational lines, "[API] …",
// the default) or every Qt message (qCWarning too; the category is not part of a line). Captures
// nest: the inner one sees the lines while it lives, then the outer one again.
class LogCapture
{
public:
    enum class Source { processLog, qtMessages };

    explicit LogCapture(Source source = Source::processLog);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    int count(const QString &fragment) const;
    bool contains(const QString &fragment) const { return count(fragment) > 0; }
    void clear();

    struct Data;

private:
    Source m_source;
    std::shared_ptr<Data> d;
};

} // namespace testsupport

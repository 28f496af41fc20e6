#pragma once

#include "core/ai/LineSplitter.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The provider's message in the body of a refused request: the body's lines joined with nothing
// between them, read until the text holds more than `limit` Characters (the line that passes it
// is kept whole) or the body ends.
//
// A hostile body must not cost more than a glance: at most maxBytes of it are taken, lines are
// decoded once, and the Characters are counted over the whole text only at a few growing
// checkpoints instead of after every line, so the work stays linear in what was read. The result
// is the same as checking after every line.
class RefusalBody
{
public:
    static constexpr int limit = 500;
    static constexpr qsizetype maxBytes = 64 * 1024;

    // How many more bytes of the body are taken.
    qsizetype room() const { return maxBytes - m_taken; }
    // Takes the next bytes of the body (at most room()). True once the text is decided: it
    // passed the limit, or the byte cap was reached (then the body counts as ending there).
    bool append(const QByteArray &bytes);
    // The body ended: its last line counts even without a line end.
    void finish();
    // Whether the complete lines so far passed the limit (reading may stop here, whatever comes
    // after).
    bool passedLimit();

    QString text() const;

private:
    void take(const QList<QByteArray> &lines);
    void evaluate();

    LineSplitter m_splitter;
    QString m_text;
    QList<qsizetype> m_lineEnds;
    qsizetype m_taken = 0;
    qsizetype m_evaluatedSize = 0;
    qsizetype m_nextCheck = limit + 1;
    qsizetype m_cut = -1;
    bool m_capped = false;
};

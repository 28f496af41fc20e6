#pragma once

#include <QString>

// One piece of a streamed answer, appended to what came before. done marks the last chunk of a
// reply and the error chunk of a reply that failed while streaming; failed marks the error chunk,
// so that a reader can tell a broken answer from a complete one.
struct AIStreamChunk
{
    QString text;
    bool done = false;
    bool failed = false;

    friend bool operator==(const AIStreamChunk &a, const AIStreamChunk &b)
    {
        return a.text == b.text && a.done == b.done && a.failed == b.failed;
    }
};

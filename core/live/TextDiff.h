#pragma once

#include "core/live/EditOp.h"

#include <QList>
#include <QString>

#include <optional>

// What one received edit may do: more operations than an editor sends in one message, or a text
// larger than a document may grow to (a full-text message of it must still fit in one frame),
// refuse the whole edit.
struct EditLimits
{
    qsizetype maxOperations = 10000;
    qsizetype maxTextLength = qsizetype(64) * 1024 * 1024; // UTF-16 code units
};

// Turns a change of a document into at most one delete and one insert, and replays received
// operations. Positions and lengths count Characters (extended grapheme clusters); Characters
// compare by canonical equivalence. Both directions work on a window around the change, so a
// keystroke in a large document costs about as much as in a small one.
class TextDiff
{
public:
    // Common prefix and suffix trimmed; what lies between becomes a delete and then an insert,
    // both at the end of the prefix. Empty when the texts are equal.
    static QList<EditOp> diff(const QString &oldText, const QString &newText);

    // Applies the operations in order, each against the result of the ones before it. Deletes
    // that do not fit the text are skipped, inserts are clamped into it, inserts without text are
    // skipped.
    // One pass over the text and the inserted texts; each operation costs about the square root
    // of the number of operations, never the length of the text.
    static QString apply(const QList<EditOp> &ops, const QString &text);

    // Like apply, but all or nothing: when any delete or insert does not fit the text it meets
    // (a negative position, a position or range past the end, a delete of nothing), or the edit
    // breaks the limits, the whole edit is refused and logged. Inserts without text change
    // nothing and are allowed.
    static std::optional<QString> applyChecked(const QList<EditOp> &ops, const QString &text,
                                               const EditLimits &limits = {});

    static qint64 characterCount(const QString &text);
    // The UTF-16 offset at which Character `index` starts (the length for the Character count);
    // nothing for a negative index or one past the end.
    static std::optional<qsizetype> utf16Offset(const QString &text, qint64 index);
};

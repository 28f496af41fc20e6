#pragma once

#include "core/live/EditOp.h"

#include <QList>
#include <QString>
#include <QStringList>

// The straightforward diff and apply over whole texts, segmented in one piece by ICU's iterator:
// the reference that the windowed diff and the piecewise apply must match exactly.
namespace naive {

QStringList characters(const QString &text);
QList<EditOp> diff(const QString &oldText, const QString &newText);
// Applies with the array semantics spelled out on the list of Characters, each inserted text
// segmented on its own; `fits` (if given) tells whether every operation fit the text it met.
QString apply(const QList<EditOp> &ops, const QString &text, bool *fits = nullptr);

} // namespace naive

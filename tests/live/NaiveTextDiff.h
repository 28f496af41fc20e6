#pragma once

#include "core/live/EditOp.h"

#include <QList>
#include <QString>
#include <QStringList>

// The straightforward diff over whole texts, segmented in one piece by ICU's iterator: the
// reference that the windowed diff must match exactly.
namespace naive {

QStringList characters(const QString &text);
QList<EditOp> diff(const QString &oldText, const QString &newText);

} // namespace naive

#include "platform/Text.h"

namespace {
// No character below U+0300 has a canonical decomposition or is a combining mark, so text made
// only of such code units compares correctly as it is.
bool belowCombining(const QString &s)
{
    for (const QChar c : s)
        if (c.unicode() >= 0x0300)
            return false;
    return true;
}
} // namespace

bool canonicallyEqual(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    if (belowCombining(a) && belowCombining(b))
        return false;
    return a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

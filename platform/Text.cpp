#include "platform/Text.h"

#include <algorithm>

namespace {
// No character below U+0300 has a canonical decomposition or is a combining mark, so text made
// only of such code units compares correctly as it is.
bool belowCombining(QStringView s)
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

    // Only the part where the texts differ needs normalizing (a keystroke in a long document
    // must not normalize all of it). Decomposition works character by character and reordering
    // stays within runs of combining marks, so the texts may be cut next to an ASCII character:
    // the common prefix up to just after one, the common suffix from one on.
    const qsizetype limit = std::min(a.size(), b.size());
    qsizetype prefix = 0;
    while (prefix < limit && a.at(prefix) == b.at(prefix))
        ++prefix;
    while (prefix > 0 && a.at(prefix - 1).unicode() >= 0x80)
        --prefix;
    qsizetype suffix = 0;
    while (suffix < limit - prefix && a.at(a.size() - 1 - suffix) == b.at(b.size() - 1 - suffix))
        ++suffix;
    while (suffix > 0 && a.at(a.size() - suffix).unicode() >= 0x80)
        --suffix;

    const QStringView middleA = QStringView(a).mid(prefix, a.size() - prefix - suffix);
    const QStringView middleB = QStringView(b).mid(prefix, b.size() - prefix - suffix);
    if (belowCombining(middleA) && belowCombining(middleB))
        return false;
    return middleA.toString().normalized(QString::NormalizationForm_D)
        == middleB.toString().normalized(QString::NormalizationForm_D);
}

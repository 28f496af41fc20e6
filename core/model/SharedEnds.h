#pragma once

#include <QtGlobal>

#include <algorithm>

// How many code units two texts are known to share at their start and at their end: lower bounds,
// zero when nothing is known.
struct SharedEnds
{
    qsizetype prefix = 0;
    qsizetype suffix = 0;

    // What a first text shares with a third one when it shares `this` with a second one, which
    // shares `next` with the third.
    SharedEnds then(SharedEnds next) const
    {
        return {std::min(prefix, next.prefix), std::min(suffix, next.suffix)};
    }
};

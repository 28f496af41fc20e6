#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// Maps between Character positions and UTF-16 offsets of one text without segmenting all of it
// for every question: it remembers checkpoints (offset, Characters before it) on safe boundaries,
// adds them as it counts, and hands the still valid ones on to the text of the next edit. The
// per-keystroke diff of a large document then only segments around the change.
class GraphemeIndex
{
public:
    explicit GraphemeIndex(const QString &text);

    const QString &text() const { return m_text; }

    // Characters that start before `offset`, which must be a safe boundary or the text's end.
    qint64 clustersBefore(qsizetype offset);
    // Where Character `index` starts (the text's length for the count of Characters); nothing for
    // a negative index or one past the end.
    std::optional<qsizetype> offsetOfCluster(qint64 index);
    qint64 clusterCount() { return clustersBefore(m_text.size()); }

    // The index of `newText`, which equals this text except in [start, oldEnd), now
    // [start, newEnd); start and both ends are safe boundaries. `clusterDelta` is the change of
    // the Character count inside that range.
    std::shared_ptr<GraphemeIndex> derive(const QString &newText, qsizetype start, qsizetype oldEnd,
                                          qsizetype newEnd, qint64 clusterDelta) const;

    // A process-wide (per thread) memory of the indexes of the last few large texts, found by
    // identity of their shared buffers. A text that is not there gets a fresh index.
    static std::shared_ptr<GraphemeIndex> forText(const QString &text);
    static void remember(const std::shared_ptr<GraphemeIndex> &index);

private:
    struct Checkpoint
    {
        qsizetype offset;
        qint64 clusters;
    };

    // Counts the next stretch after checkpoint `at`, ending no later than `limit` (a safe
    // boundary) or at the next checkpoint; records whole stretches as new checkpoints.
    Checkpoint step(std::size_t &at, qsizetype limit);

    QString m_text;
    std::vector<Checkpoint> m_points;
};

#include "core/live/GraphemeIndex.h"

#include "platform/Graphemes.h"

#include <algorithm>

namespace {

// Checkpoints every few thousand code units keep any question within one short segmentation.
constexpr qsizetype stride = 4096;
// Texts below this size are counted outright; remembering them would not pay.
constexpr qsizetype rememberFrom = 8192;
constexpr std::size_t rememberedTexts = 4;

std::vector<std::shared_ptr<GraphemeIndex>> &remembered()
{
    thread_local std::vector<std::shared_ptr<GraphemeIndex>> indexes;
    return indexes;
}

// Same buffer, same view: a buffer that two strings share cannot change without detaching, so
// the content is the same as well.
bool sameText(const QString &a, const QString &b)
{
    return a.data_ptr().isSharedWith(b.data_ptr()) && a.constData() == b.constData()
        && a.size() == b.size();
}

} // namespace

GraphemeIndex::GraphemeIndex(const QString &text)
    : m_text(text)
    , m_points {{0, 0}}
{
}

qint64 GraphemeIndex::clustersBefore(qsizetype offset)
{
    offset = std::clamp<qsizetype>(offset, 0, m_text.size());
    auto it = std::upper_bound(m_points.begin(), m_points.end(), offset,
                               [](qsizetype o, const Checkpoint &p) { return o < p.offset; });
    std::size_t at = std::size_t(it - m_points.begin()) - 1;
    Checkpoint current = m_points[at];
    while (current.offset < offset) {
        if (at + 1 < m_points.size() && m_points[at + 1].offset <= offset) {
            current = m_points[++at];
            continue;
        }
        qsizetype end = graphemes::nextSafeBoundary(m_text, current.offset + stride);
        if (at + 1 < m_points.size())
            end = std::min(end, m_points[at + 1].offset);
        if (end > offset)
            return current.clusters + graphemes::countClusters(m_text, current.offset, offset);
        current = {end, current.clusters + graphemes::countClusters(m_text, current.offset, end)};
        m_points.insert(m_points.begin() + qsizetype(++at), current);
    }
    return current.clusters;
}

std::optional<qsizetype> GraphemeIndex::offsetOfCluster(qint64 index)
{
    if (index < 0)
        return std::nullopt;
    auto it = std::upper_bound(m_points.begin(), m_points.end(), index,
                               [](qint64 i, const Checkpoint &p) { return i < p.clusters; });
    std::size_t at = std::size_t(it - m_points.begin()) - 1;
    Checkpoint current = m_points[at];
    for (;;) {
        if (current.clusters == index)
            return current.offset;
        if (current.offset >= m_text.size())
            return std::nullopt;
        if (at + 1 < m_points.size() && m_points[at + 1].clusters <= index) {
            current = m_points[++at];
            continue;
        }
        qsizetype end = graphemes::nextSafeBoundary(m_text, current.offset + stride);
        if (at + 1 < m_points.size())
            end = std::min(end, m_points[at + 1].offset);
        const qint64 count = graphemes::countClusters(m_text, current.offset, end);
        if (current.clusters + count >= index) {
            std::vector<qsizetype> boundaries;
            graphemes::appendBoundaries(m_text, current.offset, end, boundaries);
            return boundaries[std::size_t(index - current.clusters - 1)];
        }
        current = {end, current.clusters + count};
        m_points.insert(m_points.begin() + qsizetype(++at), current);
    }
}

std::shared_ptr<GraphemeIndex> GraphemeIndex::derive(const QString &newText, qsizetype start,
                                                     qsizetype oldEnd, qsizetype newEnd,
                                                     qint64 clusterDelta) const
{
    auto result = std::make_shared<GraphemeIndex>(newText);
    result->m_points.clear();
    result->m_points.reserve(m_points.size());
    const qsizetype shift = newEnd - oldEnd;
    for (const Checkpoint &p : m_points) {
        if (p.offset <= start)
            result->m_points.push_back(p);
        else if (p.offset >= oldEnd)
            result->m_points.push_back({p.offset + shift, p.clusters + clusterDelta});
    }
    return result;
}

std::shared_ptr<GraphemeIndex> GraphemeIndex::forText(const QString &text)
{
    auto &indexes = remembered();
    for (auto it = indexes.begin(); it != indexes.end(); ++it) {
        if (sameText((*it)->m_text, text)) {
            std::rotate(indexes.begin(), it, it + 1);
            return indexes.front();
        }
    }
    return std::make_shared<GraphemeIndex>(text);
}

void GraphemeIndex::remember(const std::shared_ptr<GraphemeIndex> &index)
{
    if (!index || index->m_text.size() < rememberFrom || !index->m_text.data_ptr().isMutable())
        return;
    auto &indexes = remembered();
    std::erase_if(indexes, [&](const auto &known) {
        return known == index || sameText(known->m_text, index->m_text);
    });
    indexes.insert(indexes.begin(), index);
    if (indexes.size() > rememberedTexts)
        indexes.resize(rememberedTexts);
}

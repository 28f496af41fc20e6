#include "core/highlight/HighlightStyle.h"

namespace {

// Lines per chunk: an edit rebuilds one or two chunks, and a copy of a long text's runs holds
// a few hundred pointers.
constexpr qsizetype linesPerChunk = 256;

} // namespace

std::span<const HighlightRun> HighlightRuns::line(qsizetype index) const
{
    if (index < 0 || index >= lineCount())
        return {};
    const auto [chunk, first] = locate(index);
    return m_chunks[chunk]->line(index - first);
}

qsizetype HighlightRuns::runCount() const
{
    qsizetype count = 0;
    for (const auto &chunk : m_chunks)
        count += qsizetype(chunk->runs.size());
    return count;
}

HighlightRuns::Chunk &HighlightRuns::openChunk()
{
    // Only a chunk no copy shares is added to; a line is never split between two chunks, since
    // the count of lines does not change while one is built.
    if (m_chunks.empty() || m_chunks.back().use_count() != 1
        || m_chunks.back()->lineCount() >= linesPerChunk) {
        const qsizetype lines = lineCount();
        m_chunks.push_back(std::make_shared<Chunk>());
        m_chunkEnds.push_back(lines);
    }
    // Made here as a mutable object and not shared yet.
    return const_cast<Chunk &>(*m_chunks.back());
}

void HighlightRuns::endLine()
{
    Chunk &chunk = openChunk();
    chunk.lineFirstRun.push_back(std::uint32_t(chunk.runs.size()));
    ++m_chunkEnds.back();
}

std::pair<size_t, qsizetype> HighlightRuns::locate(qsizetype line) const
{
    const auto end = std::upper_bound(m_chunkEnds.begin(), m_chunkEnds.end(), line);
    const auto chunk = size_t(end - m_chunkEnds.begin());
    return {chunk, chunk == 0 ? 0 : m_chunkEnds[chunk - 1]};
}

void HighlightRuns::updateEnds(size_t from)
{
    m_chunkEnds.resize(m_chunks.size());
    for (size_t i = from; i < m_chunks.size(); ++i)
        m_chunkEnds[i] = (i == 0 ? 0 : m_chunkEnds[i - 1]) + m_chunks[i]->lineCount();
}

void HighlightRuns::replaceLines(qsizetype first, qsizetype count, const HighlightRuns &lines)
{
    const qsizetype total = lineCount();
    first = std::clamp<qsizetype>(first, 0, total);
    count = std::clamp<qsizetype>(count, 0, total - first);

    // The chunks that hold the replaced lines are rebuilt; lines added at the end join the last
    // chunk. A small result takes in a neighbour, so that edits do not leave tiny chunks behind.
    size_t from = 0;
    size_t to = 0;
    qsizetype fromLine = 0;
    if (!m_chunks.empty()) {
        std::tie(from, fromLine) = locate(std::min(first, total - 1));
        to = locate(std::clamp<qsizetype>(first + count - 1, first, total - 1)).first + 1;
    }
    auto rebuiltLines = [&] {
        return (to == 0 ? 0 : m_chunkEnds[to - 1]) - fromLine - count + lines.lineCount();
    };
    if (rebuiltLines() < linesPerChunk / 4) {
        if (to < m_chunks.size()) {
            ++to;
        } else if (from > 0) {
            --from;
            fromLine -= m_chunks[from]->lineCount();
        }
    }

    // Spread evenly over as few chunks as hold them.
    const qsizetype rebuilt = rebuiltLines();
    const qsizetype chunkCount = (rebuilt + linesPerChunk - 1) / linesPerChunk;
    const qsizetype perChunk = chunkCount == 0 ? 0 : (rebuilt + chunkCount - 1) / chunkCount;
    std::vector<std::shared_ptr<const Chunk>> made;
    std::shared_ptr<Chunk> open;
    auto append = [&](const HighlightRuns &source, qsizetype at, qsizetype end) {
        while (at < end) {
            const auto [index, chunkFirst] = source.locate(at);
            const Chunk &chunk = *source.m_chunks[index];
            const qsizetype stop = std::min(end, chunkFirst + chunk.lineCount());
            for (; at < stop; ++at) {
                if (!open || open->lineCount() >= perChunk) {
                    open = std::make_shared<Chunk>();
                    made.push_back(open);
                }
                const std::span<const HighlightRun> runs = chunk.line(at - chunkFirst);
                open->runs.insert(open->runs.end(), runs.begin(), runs.end());
                open->lineFirstRun.push_back(std::uint32_t(open->runs.size()));
            }
        }
    };
    const qsizetype toLine = to == 0 ? 0 : m_chunkEnds[to - 1];
    append(*this, fromLine, first);
    append(lines, 0, lines.lineCount());
    append(*this, first + count, toLine);

    const auto at = m_chunks.erase(m_chunks.begin() + std::ptrdiff_t(from),
                                   m_chunks.begin() + std::ptrdiff_t(to));
    m_chunks.insert(at, made.begin(), made.end());
    updateEnds(from);
}

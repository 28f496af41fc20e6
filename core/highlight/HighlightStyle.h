#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

// The colour roles of the Markdown source view. The editor turns them into colours of the current
// theme; the core only says which role a character has.
enum class HighlightColor : std::uint8_t {
    base, // the theme's text colour: no colour of its own
    label, // headings of levels 1 and 2
    secondaryLabel, // headings 3 to 6, block quotes, code blocks
    tertiaryLabel, // syntax markers and thematic breaks
    link, // links and images
    inlineCode,
};

// The look of one character, packed into one byte so a whole document's styles stay small.
struct HighlightStyle
{
    HighlightColor foreground = HighlightColor::base;
    bool codeBackground = false;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;

    bool isBase() const { return pack() == 0; }

    std::uint8_t pack() const
    {
        return std::uint8_t(std::uint8_t(foreground) | (codeBackground << 3) | (bold << 4)
                            | (italic << 5) | (underline << 6) | (strikethrough << 7));
    }
    static HighlightStyle unpack(std::uint8_t bits)
    {
        HighlightStyle s;
        s.foreground = HighlightColor(bits & 7);
        s.codeBackground = bits & (1 << 3);
        s.bold = bits & (1 << 4);
        s.italic = bits & (1 << 5);
        s.underline = bits & (1 << 6);
        s.strikethrough = bits & (1 << 7);
        return s;
    }

    friend bool operator==(const HighlightStyle &a, const HighlightStyle &b)
    {
        return a.pack() == b.pack();
    }
};

// A stretch of one line that has one style other than the base style. Offsets are UTF-16 code
// units from the start of the line.
struct HighlightRun
{
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint8_t style = 0; // HighlightStyle::pack()

    HighlightStyle unpackedStyle() const { return HighlightStyle::unpack(style); }
    friend bool operator==(const HighlightRun &, const HighlightRun &) = default;
};

// The styled runs of a whole text, line by line (lines end at LF only). Lines without styling
// have no runs: they show in the base font and colour.
//
// The lines are kept in chunks that are never changed once a copy shares them: a copy costs a
// pointer per chunk, and an edit rebuilds the chunks it touches. A long text's runs are made for
// every keystroke from the previous revision's, and handed to the view, without copying them whole.
class HighlightRuns
{
public:
    HighlightRuns() = default;

    qsizetype lineCount() const { return m_chunkEnds.empty() ? 0 : m_chunkEnds.back(); }
    std::span<const HighlightRun> line(qsizetype index) const;
    qsizetype runCount() const;

    // Built line by line: runs of the current line, then endLine(). Copies are taken of whole
    // lines only.
    void addRun(std::uint32_t start, std::uint32_t length, std::uint8_t style)
    {
        openChunk().runs.push_back({start, length, style});
    }
    void endLine();

    // Puts `lines` in the place of `count` lines from `first` on; the lines after them keep their
    // runs and move up or down.
    void replaceLines(qsizetype first, qsizetype count, const HighlightRuns &lines);

    // Calls `changed(line)` for each line from `from` to `to` whose runs differ from those of
    // line `line - shift` of `other` (a line `other` lacks differs). Lines of a chunk both share
    // at the same place are not compared.
    template<typename Changed>
    void forEachChangedLine(const HighlightRuns &other, qsizetype shift, qsizetype from,
                            qsizetype to, Changed &&changed) const;

    static bool sameRuns(std::span<const HighlightRun> a, std::span<const HighlightRun> b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    struct Chunk
    {
        std::vector<HighlightRun> runs;
        std::vector<std::uint32_t> lineFirstRun {0};

        qsizetype lineCount() const { return qsizetype(lineFirstRun.size()) - 1; }
        std::span<const HighlightRun> line(qsizetype index) const
        {
            return std::span<const HighlightRun>(runs).subspan(lineFirstRun[size_t(index)],
                                                               lineFirstRun[size_t(index) + 1]
                                                                   - lineFirstRun[size_t(index)]);
        }
    };

    // Walks the chunks of runs line by line, mostly one chunk on from the last.
    struct Cursor
    {
        const HighlightRuns &runs;
        size_t chunk = 0;
        qsizetype first = 0;
        qsizetype end = 0; // the line after the chunk's last

        void moveTo(qsizetype line)
        {
            if (line >= first && line < end)
                return;
            if (line == end && end > 0 && chunk + 1 < runs.m_chunks.size()) {
                ++chunk;
            } else {
                chunk = runs.locate(line).first;
            }
            first = chunk == 0 ? 0 : runs.m_chunkEnds[chunk - 1];
            end = runs.m_chunkEnds[chunk];
        }
    };

    Chunk &openChunk();
    // The chunk holding `line` (< lineCount()), and the chunk's first line.
    std::pair<size_t, qsizetype> locate(qsizetype line) const;
    void updateEnds(size_t from);

    std::vector<std::shared_ptr<const Chunk>> m_chunks;
    std::vector<qsizetype> m_chunkEnds; // the line after each chunk's last
};

template<typename Changed>
void HighlightRuns::forEachChangedLine(const HighlightRuns &other, qsizetype shift, qsizetype from,
                                       qsizetype to, Changed &&changed) const
{
    to = std::min(to, lineCount());
    Cursor here {*this};
    Cursor theirs {other};
    for (qsizetype at = std::max<qsizetype>(from, 0); at < to;) {
        const qsizetype there = at - shift;
        if (there < 0 || there >= other.lineCount()) {
            changed(at++);
            continue;
        }
        here.moveTo(at);
        theirs.moveTo(there);
        const qsizetype n = std::min({here.end - at, theirs.end - there, to - at});
        // Chunks are looked into only where they differ: a long text has hundreds, mostly shared.
        const Chunk *chunk = m_chunks[here.chunk].get();
        const Chunk *otherChunk = other.m_chunks[theirs.chunk].get();
        const qsizetype line = at - here.first;
        const qsizetype otherLine = there - theirs.first;
        if (chunk != otherChunk || line != otherLine) {
            for (qsizetype i = 0; i < n; ++i) {
                if (!sameRuns(chunk->line(line + i), otherChunk->line(otherLine + i)))
                    changed(at + i);
            }
        }
        at += n;
    }
}

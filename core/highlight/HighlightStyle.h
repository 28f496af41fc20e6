#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <span>
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
class HighlightRuns
{
public:
    HighlightRuns() = default;

    qsizetype lineCount() const { return qsizetype(m_lineFirstRun.size()) - 1; }
    std::span<const HighlightRun> line(qsizetype index) const
    {
        if (index < 0 || index >= lineCount())
            return {};
        return std::span<const HighlightRun>(m_runs).subspan(
            m_lineFirstRun[index], m_lineFirstRun[index + 1] - m_lineFirstRun[index]);
    }
    qsizetype runCount() const { return qsizetype(m_runs.size()); }

    // Built line by line: runs of the current line, then endLine().
    void addRun(std::uint32_t start, std::uint32_t length, std::uint8_t style)
    {
        m_runs.push_back({start, length, style});
    }
    void endLine() { m_lineFirstRun.push_back(std::uint32_t(m_runs.size())); }

    // Puts `lines` in the place of `count` lines from `first` on; the lines after them keep their
    // runs and move up or down.
    void replaceLines(qsizetype first, qsizetype count, const HighlightRuns &lines)
    {
        const auto runsFrom = m_runs.begin() + m_lineFirstRun[size_t(first)];
        const auto runsTo = m_runs.begin() + m_lineFirstRun[size_t(first + count)];
        const std::int64_t runDelta = std::int64_t(lines.m_runs.size()) - (runsTo - runsFrom);
        const std::uint32_t base = m_lineFirstRun[size_t(first)];
        m_runs.insert(m_runs.erase(runsFrom, runsTo), lines.m_runs.begin(), lines.m_runs.end());
        for (auto it = m_lineFirstRun.begin() + first + count + 1; it != m_lineFirstRun.end(); ++it)
            *it = std::uint32_t(std::int64_t(*it) + runDelta);
        const auto endsFrom = m_lineFirstRun.begin() + first + 1;
        const auto at = m_lineFirstRun.erase(endsFrom, endsFrom + count);
        std::vector<std::uint32_t> ends;
        ends.reserve(size_t(lines.lineCount()));
        for (qsizetype i = 1; i <= lines.lineCount(); ++i)
            ends.push_back(base + lines.m_lineFirstRun[size_t(i)]);
        m_lineFirstRun.insert(at, ends.begin(), ends.end());
    }

    // Becomes `other`, given that only its lines from `first` to `first + count` may differ from
    // these: when they hold as many runs as here, only they are copied.
    void assignLines(const HighlightRuns &other, qsizetype first, qsizetype count)
    {
        const size_t begin = size_t(first);
        const size_t end = size_t(first + count);
        if (first < 0 || count < 0 || other.lineCount() != lineCount() || end > size_t(lineCount())
            || other.m_runs.size() != m_runs.size()
            || other.m_lineFirstRun[begin] != m_lineFirstRun[begin]
            || other.m_lineFirstRun[end] != m_lineFirstRun[end]) {
            *this = other;
            return;
        }
        const auto from = std::ptrdiff_t(m_lineFirstRun[begin]);
        const auto to = std::ptrdiff_t(other.m_lineFirstRun[end]);
        std::copy(other.m_runs.begin() + from, other.m_runs.begin() + to, m_runs.begin() + from);
        std::copy(other.m_lineFirstRun.begin() + std::ptrdiff_t(begin),
                  other.m_lineFirstRun.begin() + std::ptrdiff_t(end) + 1,
                  m_lineFirstRun.begin() + std::ptrdiff_t(begin));
    }

    static bool sameRuns(std::span<const HighlightRun> a, std::span<const HighlightRun> b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    std::vector<HighlightRun> m_runs;
    std::vector<std::uint32_t> m_lineFirstRun {0};
};

#include "core/markdown/InlineMath.h"

#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownWalker.h"
#include "core/markdown/SourceTextMap.h"

#include <algorithm>
#include <array>
#include <cmark-gfm.h>

#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace {

unsigned char uchar(char c)
{
    return static_cast<unsigned char>(c);
}

struct Delimiter
{
    std::string_view left;
    std::string_view right;
};

// In the order the page's auto-render lists them, which decides between delimiters starting at
// the same place.
constexpr std::array<Delimiter, 4> previewDelimiters {
    {{"$$", "$$"}, {"$", "$"}, {"\\(", "\\)"}, {"\\[", "\\]"}}};

struct Interval
{
    qsizetype start;
    qsizetype end;
};

// The block's inline content as the page shows its text: continuation lines from their content,
// lines joined by a line feed; each line's start in the text and in the source.
struct Content
{
    std::string text;
    std::vector<std::pair<qsizetype, qsizetype>> lines; // (text offset, source byte)

    qsizetype sourceOf(qsizetype index) const
    {
        auto it = std::upper_bound(lines.begin(), lines.end(), index,
                                   [](qsizetype i, const auto &l) { return i < l.first; });
        --it;
        return it->second + (index - it->first);
    }
    // The text offset of a source byte (or of the first character after it).
    qsizetype indexOf(qsizetype byte) const
    {
        auto it = std::upper_bound(lines.begin(), lines.end(), byte,
                                   [](qsizetype b, const auto &l) { return b < l.second; });
        if (it == lines.begin())
            return 0;
        --it;
        const auto next = it + 1;
        const qsizetype lineEnd = next == lines.end() ? qsizetype(text.size()) : next->first - 1;
        return std::min(it->first + (byte - it->second), lineEnd);
    }
};

// Where the content the outermost block quote around a node sits in starts (1 when none).
int outerQuoteColumn(MarkdownNode node, const SourceTextMap &lines)
{
    MarkdownNode outer;
    for (MarkdownNode p = node.parent(); p; p = p.parent()) {
        if (p.kind() == MarkdownNodeKind::BlockQuote)
            outer = p;
    }
    const MarkdownNode item = outer ? outer.parent() : MarkdownNode();
    if (!item || item.kind() != MarkdownNodeKind::Item)
        return 1;
    return lines.listItemContentColumn(cmark_node_get_start_line(item.raw()),
                                       cmark_node_get_start_column(item.raw()));
}

int quoteDepth(MarkdownNode node)
{
    int depth = 0;
    for (MarkdownNode p = node.parent(); p; p = p.parent())
        depth += p.kind() == MarkdownNodeKind::BlockQuote ? 1 : 0;
    return depth;
}

std::optional<SourceRange> firstRange(const MarkdownDocument &document, MarkdownNode node)
{
    for (; node; node = node.next()) {
        if (const auto range = document.sourceRange(node))
            return range;
    }
    return std::nullopt;
}

std::optional<SourceRange> lastRange(const MarkdownDocument &document, MarkdownNode node)
{
    for (; node; node = node.previous()) {
        if (const auto range = document.sourceRange(node))
            return range;
    }
    return std::nullopt;
}

// KaTeX's search for the end of a formula: the first closing delimiter outside braces, a
// backslash hiding the character after it.
qsizetype endOfMath(std::string_view text, qsizetype from, std::string_view right)
{
    int braces = 0;
    for (qsizetype i = from; i < qsizetype(text.size()); ++i) {
        if (braces <= 0 && text.substr(size_t(i), right.size()) == right)
            return i;
        if (text[size_t(i)] == '\\')
            ++i;
        else if (text[size_t(i)] == '{')
            ++braces;
        else if (text[size_t(i)] == '}')
            --braces;
    }
    return -1;
}

void scanRun(std::string_view run, qsizetype offset, std::span<const Delimiter> delimiters,
             std::vector<Interval> &found)
{
    const std::string_view firsts = delimiters.size() > 2 ? "$\\" : "$";
    size_t pos = 0;
    while (pos < run.size()) {
        qsizetype at = -1;
        const Delimiter *chosen = nullptr;
        for (size_t i = run.find_first_of(firsts, pos); i != std::string_view::npos && !chosen;
             i = run.find_first_of(firsts, i + 1)) {
            for (const Delimiter &d : delimiters) {
                if (run.substr(i, d.left.size()) == d.left) {
                    at = qsizetype(i);
                    chosen = &d;
                    break;
                }
            }
        }
        if (!chosen)
            return;
        const qsizetype end = endOfMath(run, at + qsizetype(chosen->left.size()), chosen->right);
        if (end < 0)
            return; // the rest stays text
        const qsizetype close = end + qsizetype(chosen->right.size());
        found.push_back({offset + at, offset + close});
        pos = size_t(close);
    }
}

// Code spans, inline HTML, images and link syntax are never mathematics, and no formula reaches
// across them.
std::vector<Interval> barriers(const MarkdownDocument &document, MarkdownNode block)
{
    std::vector<Interval> out;
    auto add = [&](SourcePosition lower, SourcePosition upper) {
        const auto a = document.byteOffset(lower);
        const auto b = document.byteOffset(upper);
        if (a && b && *a < *b)
            out.push_back({*a, *b});
    };
    // In document order, without recursion: the children of code, HTML and images are skipped.
    visitDescendants(block, [&](MarkdownNode n) {
        const cmark_node_type type = cmark_node_get_type(n.raw());
        if (type != CMARK_NODE_CODE && type != CMARK_NODE_HTML_INLINE && type != CMARK_NODE_IMAGE
            && type != CMARK_NODE_LINK)
            return true;
        const auto range = document.sourceRange(n);
        if (!range)
            return true;
        const auto first = firstRange(document, n.firstChild());
        const auto last = lastRange(document, n.lastChild());
        const auto lower = document.byteOffset(range->lower);
        const bool autolink = lower && document.utf8().at(*lower) == '<';
        if (type == CMARK_NODE_LINK && first && last && !autolink) {
            add(range->lower, first->lower); // the link text is a run of its own
            add(last->upper, range->upper);
            return true;
        }
        add(range->lower, range->upper);
        return false;
    });
    std::sort(out.begin(), out.end(),
              [](const Interval &a, const Interval &b) { return a.start < b.start; });
    return out;
}

int utf8Length(unsigned char lead)
{
    return lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 4;
}

// Length of the entity or numeric character reference the text starts with, or 0.
size_t entityLength(std::string_view s)
{
    if (s.size() < 3 || s[0] != '&')
        return 0;
    for (size_t k = 1; k < s.size() && k <= 32; ++k) {
        if (s[k] == ';')
            return k > 1 ? k + 1 : 0;
        if (!std::isalnum(uchar(s[k])) && !(k == 1 && s[k] == '#'))
            return 0;
    }
    return 0;
}

// A typographic character the parser puts for straight quotes, dashes and dots: U+2013, U+2014,
// U+2018, U+2019, U+201C, U+201D, U+2026, all E2 80 xx.
bool isTypographic(std::string_view t, size_t j, std::initializer_list<unsigned char> last)
{
    if (j + 3 > t.size() || uchar(t[j]) != 0xE2 || uchar(t[j + 1]) != 0x80)
        return false;
    return std::find(last.begin(), last.end(), uchar(t[j + 2])) != last.end();
}

// Source and literal offsets at the boundaries of the units the parser made the literal from:
// characters, backslash escapes, entities, typographic quotes, dashes and dots; blanks the
// parser dropped at the end. None when the literal does not follow from the source that way.
std::optional<std::vector<std::pair<qsizetype, qsizetype>>> align(std::string_view s,
                                                                  std::string_view t)
{
    std::vector<std::pair<qsizetype, qsizetype>> bounds {{0, 0}};
    size_t i = 0;
    size_t j = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (j >= t.size()) {
            if (c != ' ' && c != '\t')
                return std::nullopt;
            ++i;
        } else if (c == '\\' && i + 1 < s.size() && std::ispunct(uchar(s[i + 1]))
                   && t[j] == s[i + 1]) {
            i += 2;
            j += 1;
        } else if (const size_t entity = entityLength(s.substr(i));
                   entity > 0 && t.substr(j, entity) != s.substr(i, entity)) {
            i += entity; // decoded: one character
            j += size_t(utf8Length(uchar(t[j])));
        } else if ((c == '\'' || c == '"') && isTypographic(t, j, {0x98, 0x99, 0x9C, 0x9D})) {
            i += 1;
            j += 3;
        } else if (c == '-' && isTypographic(t, j, {0x93, 0x94})) {
            while (i < s.size() && s[i] == '-')
                ++i;
            while (isTypographic(t, j, {0x93, 0x94}))
                j += 3;
        } else if (s.substr(i, 3) == "..." && isTypographic(t, j, {0xA6})) {
            i += 3;
            j += 3;
        } else if (c == t[j]) {
            ++i;
            ++j;
        } else {
            return std::nullopt;
        }
        bounds.emplace_back(qsizetype(i), qsizetype(j));
    }
    if (j != t.size())
        return std::nullopt;
    return bounds;
}

} // namespace

std::vector<InlineMath::Span> InlineMath::find(const MarkdownDocument &document, MarkdownNode block,
                                               MathDelimiters delimiters)
{
    const auto first = firstRange(document, block.firstChild());
    const auto last = lastRange(document, block.lastChild());
    if (!first || !last)
        return {};
    const auto from = document.byteOffset(first->lower);
    const auto to = document.byteOffset(last->upper);
    if (!from || !to || *to <= *from)
        return {};
    const QByteArray &utf8 = document.utf8();
    const std::string_view region(utf8.constData() + *from, size_t(*to - *from));
    const bool brackets = delimiters == MathDelimiters::Preview;
    if (region.find('$') == std::string_view::npos
        && !(brackets
             && (region.find("\\(") != std::string_view::npos
                 || region.find("\\[") != std::string_view::npos)))
        return {};

    const SourceTextMap &lines = document.sourceLines();
    const int quotes = quoteDepth(block);
    const int quoteColumn = outerQuoteColumn(block, lines);
    Content content;
    for (int line = first->lower.line; line <= last->upper.line; ++line) {
        const qsizetype begin = line == first->lower.line
            ? *from
            : lines.lineStart(line) + lines.contentStartColumn(line, quotes, quoteColumn) - 1;
        const qsizetype end = line == last->upper.line ? *to : lines.lineContentEnd(line);
        if (line > first->lower.line)
            content.text += '\n';
        content.lines.emplace_back(qsizetype(content.text.size()), begin);
        content.text.append(utf8.constData() + begin, size_t(std::max<qsizetype>(end - begin, 0)));
    }

    const std::span<const Delimiter> used(previewDelimiters.data(), brackets ? 4 : 2);
    std::vector<Interval> found;
    qsizetype runStart = 0;
    for (const Interval &b : barriers(document, block)) {
        const qsizetype start = content.indexOf(b.start);
        const std::string_view text(content.text);
        if (start > runStart)
            scanRun(text.substr(size_t(runStart), size_t(start - runStart)), runStart, used, found);
        runStart = std::max(runStart, content.indexOf(b.end));
    }
    if (runStart < qsizetype(content.text.size()))
        scanRun(std::string_view(content.text).substr(size_t(runStart)), runStart, used, found);

    std::vector<Span> spans;
    spans.reserve(found.size());
    for (const Interval &f : found) {
        spans.push_back({content.sourceOf(f.start), content.sourceOf(f.end - 1) + 1,
                         content.text.substr(size_t(f.start), size_t(f.end - f.start))});
    }
    return spans;
}

// ---- writing

InlineMathWriter::InlineMathWriter(const MarkdownDocument &document, MarkdownNode block,
                                   std::vector<InlineMath::Span> spans, std::string &out)
    : m_document(document)
    , m_spans(std::move(spans))
    , m_written(m_spans.size(), false)
    , m_unwritten(m_spans.size())
    , m_out(out)
{
    if (const auto bytes = bytesOf(block))
        m_cursor = bytes->first;
}

std::optional<std::pair<qsizetype, qsizetype>> InlineMathWriter::bytesOf(MarkdownNode node) const
{
    const auto range = m_document.sourceRange(node);
    if (!range)
        return std::nullopt;
    const auto start = m_document.byteOffset(range->lower);
    const auto end = m_document.byteOffset(range->upper);
    if (!start || !end)
        return std::nullopt;
    return std::pair(*start, *end);
}

// The spans are in source order and apart, so their ends rise too: a block with thousands of
// formulas finds the ones near a node by halving, not by looking at each.
std::vector<InlineMath::Span>::const_iterator InlineMathWriter::firstEndingAfter(qsizetype at) const
{
    return std::partition_point(m_spans.begin(), m_spans.end(),
                                [at](const InlineMath::Span &span) { return span.end <= at; });
}

const InlineMath::Span *InlineMathWriter::containing(qsizetype start, qsizetype end) const
{
    const auto it = firstEndingAfter(start);
    if (it != m_spans.end() && it->start <= start && end <= it->end)
        return &*it;
    return nullptr;
}

bool InlineMathWriter::overlaps(qsizetype start, qsizetype end) const
{
    const auto it = firstEndingAfter(start);
    return it != m_spans.end() && it->start < end;
}

void InlineMathWriter::writeFormula(const InlineMath::Span &span)
{
    const size_t index = size_t(&span - m_spans.data());
    if (m_written[index])
        return;
    m_written[index] = true;
    --m_unwritten;
    m_out += "<span>";
    HTMLRenderer::appendEscaped(m_out, span.text);
    m_out += "</span>";
}

// Source text outside the formulas as written (what is left of markup a formula cut through),
// each formula met on the way written once.
void InlineMathWriter::writeSource(qsizetype start, qsizetype end)
{
    const QByteArray &utf8 = m_document.utf8();
    qsizetype at = start;
    for (auto it = firstEndingAfter(start); it != m_spans.end() && it->start < end; ++it) {
        const InlineMath::Span &span = *it;
        if (span.start > at)
            HTMLRenderer::appendEscaped(
                m_out, std::string_view(utf8.constData() + at, size_t(span.start - at)));
        writeFormula(span);
        at = span.end;
    }
    if (at < end)
        HTMLRenderer::appendEscaped(m_out,
                                    std::string_view(utf8.constData() + at, size_t(end - at)));
}

// A text a formula starts or ends in: the parts outside it as the parser delivered them where
// the literal follows from the source, else as written.
void InlineMathWriter::writeText(MarkdownNode text, qsizetype start, qsizetype end)
{
    const QByteArray &utf8 = m_document.utf8();
    const std::string_view source(utf8.constData() + start, size_t(end - start));
    const std::string_view literal = text.literalUtf8();
    const auto bounds = align(source, literal);
    if (!bounds) {
        writeSource(start, end);
        return;
    }
    auto literalAt = [&](qsizetype offset, bool up) {
        auto it = std::lower_bound(bounds->begin(), bounds->end(), offset,
                                   [](const auto &b, qsizetype o) { return b.first < o; });
        if (!up && (it == bounds->end() || it->first > offset))
            --it;
        return it == bounds->end() ? qsizetype(literal.size()) : it->second;
    };
    qsizetype at = start;
    auto writePart = [&](qsizetype from, qsizetype to) {
        const qsizetype a = literalAt(from - start, true);
        const qsizetype b = literalAt(to - start, false);
        if (b > a)
            HTMLRenderer::appendEscaped(m_out, literal.substr(size_t(a), size_t(b - a)));
    };
    for (auto it = firstEndingAfter(start); it != m_spans.end() && it->start < end; ++it) {
        const InlineMath::Span &span = *it;
        if (span.start > at)
            writePart(at, span.start);
        writeFormula(span);
        at = span.end;
    }
    if (at < end)
        writePart(at, end);
}

bool InlineMathWriter::pastFormulas() const
{
    return m_unwritten == 0 && m_dissolved.empty() && m_cursor >= m_spans.back().end;
}

bool InlineMathWriter::enter(MarkdownNode node, bool &skipChildren)
{
    skipChildren = false;
    if (pastFormulas())
        return false; // the rest is plain Markdown
    const auto bytes = bytesOf(node);
    if (!bytes) {
        // A line break inside a formula is in its text already.
        const auto it = firstEndingAfter(m_cursor);
        return it != m_spans.end() && it->start < m_cursor;
    }
    const auto [start, end] = *bytes;
    if (const InlineMath::Span *span = containing(start, end)) {
        writeFormula(*span);
        skipChildren = !node.isLeaf();
        m_cursor = end;
        return true;
    }
    if (!overlaps(start, end)) {
        if (node.isLeaf())
            m_cursor = end;
        return false;
    }
    switch (node.kind()) {
    case MarkdownNodeKind::Text:
        writeText(node, start, end);
        m_cursor = end;
        return true;
    case MarkdownNodeKind::Emphasis:
    case MarkdownNodeKind::Strong:
    case MarkdownNodeKind::Strikethrough: {
        // Cut through by a formula: no element, its delimiters are text.
        m_dissolved.push_back(node);
        const auto first = bytesOf(node.firstChild());
        writeSource(start, first ? first->first : end);
        m_cursor = first ? first->first : end;
        return true;
    }
    default:
        return false; // formulas never reach across code, HTML, images or link syntax
    }
}

bool InlineMathWriter::exit(MarkdownNode node)
{
    if (pastFormulas())
        return false;
    const auto bytes = bytesOf(node);
    if (!m_dissolved.empty() && m_dissolved.back() == node) {
        m_dissolved.pop_back();
        if (bytes) {
            writeSource(m_cursor, bytes->second);
            m_cursor = bytes->second;
        }
        return true;
    }
    if (bytes)
        m_cursor = bytes->second;
    return false;
}

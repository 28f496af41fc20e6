#include "core/highlight/SyntaxHighlighter.h"

#include "core/markdown/TextAnalysis.h"

#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownWalker.h"

#include <cmark-gfm.h>

#include <cstring>
#include <numeric>

namespace {

enum Bit : std::uint8_t {
    ForegroundMask = 7,
    CodeBackgroundBit = 1 << 3,
    BoldBit = 1 << 4,
    ItalicBit = 1 << 5,
    UnderlineBit = 1 << 6,
    StrikethroughBit = 1 << 7,
};

// One styling step in walk order: either a foreground colour (a later step wins over an earlier
// one on the same characters) or a set of bits that only ever add up.
struct Step
{
    qint64 start;
    qint64 end;
    std::uint8_t bits; // foreground colour when `foreground`, else attribute bits
    bool foreground;
};

// Walks the tree once and records the styling steps of every node it knows; the steps are painted
// onto the characters afterwards.
class HighlightWalker
{
public:
    explicit HighlightWalker(const MarkdownDocument &document)
        : m_document(document)
    {
    }

    // Visits the document's descendants in order, without recursion (trees can be tens of
    // thousands of levels deep) and without exit events, which the styling does not need.
    void walk()
    {
        visitDescendants(m_document.root(), [this](MarkdownNode node) { return !visit(node); });
    }

    std::vector<HighlightStyle> paint() const;
    const std::vector<Step> &steps() const { return m_steps; }

private:
    // Mapped on the parser's own line table, which ends lines where the parser does (a lone CR
    // too), so a text with any line ends is styled where its markup stands.
    std::optional<TextRange> range(MarkdownNode node) const { return m_document.textRange(node); }

    // The node's range as the system counts it (MarkdownDocument): inline code with its backtick
    // runs, an ATX heading up to its closing "#" sequence, inline markup on a paragraph's
    // continuation lines where it stands in the line.
    std::optional<SourceRange> sourceRange(MarkdownNode node) const
    {
        return m_document.sourceRange(node);
    }

    void foreground(const TextRange &r, HighlightColor color)
    {
        if (r.length() > 0)
            m_steps.push_back({r.start, r.end, std::uint8_t(color), true});
    }
    void attributes(const TextRange &r, std::uint8_t bits)
    {
        if (r.length() > 0)
            m_steps.push_back({r.start, r.end, bits, false});
    }

    // Styles the node; true when its children are not to be visited.
    bool visit(MarkdownNode node)
    {
        switch (node.kind()) {
        case MarkdownNodeKind::Heading:
            if (const auto r = range(node)) {
                foreground(*r,
                           node.headingLevel() <= 2 ? HighlightColor::label
                                                    : HighlightColor::secondaryLabel);
                attributes(*r, BoldBit);
                headingPrefix(node, *r);
            }
            return false;
        case MarkdownNodeKind::BlockQuote:
            if (const auto r = range(node)) {
                foreground(*r, HighlightColor::secondaryLabel);
                attributes(*r, ItalicBit);
            }
            return false;
        case MarkdownNodeKind::CodeBlock:
            if (const auto r = range(node)) {
                attributes(*r, CodeBackgroundBit);
                foreground(*r, HighlightColor::secondaryLabel);
            }
            return true;
        case MarkdownNodeKind::ThematicBreak:
            if (const auto r = range(node))
                foreground(*r, HighlightColor::tertiaryLabel);
            return true;
        case MarkdownNodeKind::Code:
            if (const auto r = range(node)) {
                attributes(*r, CodeBackgroundBit);
                foreground(*r, HighlightColor::inlineCode);
            }
            return true;
        case MarkdownNodeKind::Emphasis:
            return delimited(node, ItalicBit);
        case MarkdownNodeKind::Strong:
            return delimited(node, BoldBit);
        case MarkdownNodeKind::Strikethrough:
            return delimited(node, StrikethroughBit);
        case MarkdownNodeKind::Link:
            if (const auto r = range(node)) {
                foreground(*r, HighlightColor::link);
                attributes(*r, UnderlineBit);
            }
            return false;
        case MarkdownNodeKind::Image:
            if (const auto r = range(node))
                foreground(*r, HighlightColor::link);
            return false;
        default:
            return false;
        }
    }

    // "## " before the heading's text; a setext heading starts with its text and has none.
    void headingPrefix(MarkdownNode heading, const TextRange &r)
    {
        for (MarkdownNode child = heading.firstChild(); child; child = child.next()) {
            if (!sourceRange(child))
                continue;
            const auto c = range(child);
            if (c && c->start > r.start)
                foreground({r.start, c->start}, HighlightColor::tertiaryLabel);
            return;
        }
    }

    bool delimited(MarkdownNode node, std::uint8_t bits)
    {
        const auto r = range(node);
        if (!r)
            return false;
        attributes(*r, bits);
        const MarkdownNode first = node.firstChild();
        const MarkdownNode last = node.lastChild();
        if (!first)
            return false;
        const auto f = range(first);
        const auto l = range(last);
        if (!f || !l)
            return false;
        if (f->start > r->start)
            foreground({r->start, f->start}, HighlightColor::tertiaryLabel);
        if (r->end > l->end)
            foreground({l->end, r->end}, HighlightColor::tertiaryLabel);
        return false;
    }

    const MarkdownDocument &m_document;
    std::vector<Step> m_steps;
};

// Paints the steps onto one style byte per character. Usually the steps cover the text about
// once and are painted in order. Deeply nested quotes or emphasis make them cover it thousands of
// times over; then each layer is painted from the last step back, and every character is touched
// once per layer: a later colour has already won, an attribute bit is already set.
void paintSteps(const std::vector<Step> &steps, qint64 length, std::vector<std::uint8_t> &bytes)
{
    bytes.assign(size_t(length), 0);
    qint64 covered = 0;
    for (const Step &s : steps)
        covered += s.end - s.start;

    if (covered <= 4 * length + 4096) {
        for (const Step &s : steps) {
            std::uint8_t *p = bytes.data() + s.start;
            std::uint8_t *end = bytes.data() + s.end;
            if (s.foreground) {
                for (; p < end; ++p)
                    *p = std::uint8_t((*p & ~ForegroundMask) | s.bits);
            } else {
                for (; p < end; ++p)
                    *p |= s.bits;
            }
        }
        return;
    }

    // next[i]: the first character at or after i that this layer has not painted yet.
    std::vector<qint64> next(size_t(length) + 1);
    auto find = [&next](qint64 i) {
        qint64 root = i;
        while (next[size_t(root)] != root)
            root = next[size_t(root)];
        while (next[size_t(i)] != root) {
            const qint64 up = next[size_t(i)];
            next[size_t(i)] = root;
            i = up;
        }
        return root;
    };
    const std::uint8_t layers[]
        = {ForegroundMask, CodeBackgroundBit, BoldBit, ItalicBit, UnderlineBit, StrikethroughBit};
    for (const std::uint8_t layer : layers) {
        std::iota(next.begin(), next.end(), qint64(0));
        for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
            const bool applies = layer == ForegroundMask ? it->foreground
                                                         : (!it->foreground && (it->bits & layer));
            if (!applies)
                continue;
            const std::uint8_t value = layer == ForegroundMask ? it->bits : layer;
            for (qint64 i = find(it->start); i < it->end; i = find(i + 1)) {
                bytes[size_t(i)] |= value;
                next[size_t(i)] = i + 1;
            }
        }
    }
}

std::vector<std::uint8_t> styleBytes(const MarkdownDocument &document)
{
    const QString &text = document.text();
    std::vector<std::uint8_t> bytes;
    if (text.isEmpty())
        return bytes;
    HighlightWalker walker(document);
    walker.walk();
    paintSteps(walker.steps(), text.size(), bytes);
    return bytes;
}

} // namespace

namespace SyntaxHighlighter {

HighlightRuns highlight(const MarkdownDocument &document)
{
    HighlightRuns runs;
    const QString &text = document.text();
    if (text.isEmpty()) {
        runs.endLine();
        return runs;
    }
    const std::vector<std::uint8_t> bytes = styleBytes(document);
    const std::uint8_t *style = bytes.data();
    const qsizetype n = text.size();
    qsizetype lineStart = 0;
    while (true) {
        qsizetype lineEnd = text.indexOf(u'\n', lineStart);
        if (lineEnd < 0)
            lineEnd = n;
        qsizetype i = lineStart;
        while (i < lineEnd) {
            // Most of a text has the base style: skip it eight units at a time.
            while (i + 8 <= lineEnd) {
                std::uint64_t word;
                std::memcpy(&word, style + i, 8);
                if (word != 0)
                    break;
                i += 8;
            }
            while (i < lineEnd && style[i] == 0)
                ++i;
            if (i >= lineEnd)
                break;
            const std::uint8_t value = style[i];
            const qsizetype runStart = i;
            while (i < lineEnd && style[i] == value)
                ++i;
            runs.addRun(std::uint32_t(runStart - lineStart), std::uint32_t(i - runStart), value);
        }
        runs.endLine();
        if (lineEnd >= n)
            break;
        lineStart = lineEnd + 1;
    }
    return runs;
}

HighlightRuns highlight(const TextAnalysis &analysis, HighlightRuns (*part)(const TextAnalysis &))
{
    // The layout is made either way, for the revision after this one.
    if (const LocalReparse *local = analysis.localReparse()) {
        if (const std::shared_ptr<const TextAnalysis> base = analysis.base()) {
            if (const std::shared_ptr<const HighlightRuns> earlier = base->made(part)) {
                HighlightRuns lines = highlight(*local->window);
                lines.replaceLines(local->newLineCount, lines.lineCount() - local->newLineCount,
                                   HighlightRuns());
                HighlightRuns runs = *earlier;
                runs.replaceLines(local->firstLine, local->oldLineCount, lines);
                return runs;
            }
        }
    }
    return highlight(analysis.document());
}

HighlightRuns highlight(const QString &text)
{
    const MarkdownDocument document(text);
    return highlight(document);
}

std::vector<HighlightStyle> styles(const MarkdownDocument &document)
{
    const std::vector<std::uint8_t> bytes = styleBytes(document);
    std::vector<HighlightStyle> out;
    out.reserve(bytes.size());
    for (const std::uint8_t b : bytes)
        out.push_back(HighlightStyle::unpack(b));
    return out;
}

} // namespace SyntaxHighlighter

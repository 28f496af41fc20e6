#include "core/markdown/MarkdownDocument.h"

#include "core/markdown/RangeCorrections.h"

#include "core/markdown/MarkdownWalker.h"
#include "core/markdown/SourceTextMap.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<quint64> nextSerial {1};

QByteArray parserInput(const QString &text)
{
    QByteArray utf8 = text.toUtf8();
    // The parser would turn NUL into U+FFFD itself, shifting every later byte column away from the
    // bytes we map columns on; doing it here keeps both sides on the same buffer.
    if (std::memchr(utf8.constData(), 0, size_t(utf8.size())) != nullptr)
        utf8.replace(QByteArray(1, '\0'), QByteArrayLiteral("\xEF\xBF\xBD"));
    return utf8;
}

struct ParserDeleter
{
    void operator()(cmark_parser *parser) const { cmark_parser_free(parser); }
};

// The string getters of the parser library copy a string into the tree on their first call.
// Doing that for every node once, here, makes later reads pure, so a shared tree can be read from
// several threads.
void settleStrings(cmark_node *root)
{
    MarkdownWalker walker {MarkdownNode(root)};
    while (walker.next()) {
        if (!walker.entering())
            continue;
        cmark_node *node = walker.node().raw();
        switch (cmark_node_get_type(node)) {
        case CMARK_NODE_CODE_BLOCK:
            cmark_node_get_fence_info(node);
            cmark_node_get_literal(node);
            break;
        case CMARK_NODE_TEXT:
        case CMARK_NODE_CODE:
        case CMARK_NODE_HTML_BLOCK:
        case CMARK_NODE_HTML_INLINE:
            cmark_node_get_literal(node);
            break;
        case CMARK_NODE_LINK:
        case CMARK_NODE_IMAGE:
            cmark_node_get_url(node);
            cmark_node_get_title(node);
            break;
        default:
            break;
        }
    }
}

} // namespace

void MarkdownDocument::registerExtensions()
{
    static std::once_flag once;
    std::call_once(once, [] { cmark_gfm_core_extensions_ensure_registered(); });
}

MarkdownDocument::MarkdownDocument(const QString &text)
    : m_text(text)
    , m_utf8(parserInput(text))
    , m_serial(nextSerial.fetch_add(1, std::memory_order_relaxed))
{
    registerExtensions();
    std::unique_ptr<cmark_parser, ParserDeleter> parser(
        cmark_parser_new(CMARK_OPT_SMART | CMARK_OPT_SOURCEPOS));
    for (const char *name : {"table", "strikethrough", "tasklist"}) {
        if (cmark_syntax_extension *extension = cmark_find_syntax_extension(name))
            cmark_parser_attach_syntax_extension(parser.get(), extension);
    }
    cmark_parser_feed(parser.get(), m_utf8.constData(), size_t(m_utf8.size()));
    m_root = cmark_parser_finish(parser.get());
    settleStrings(m_root);
}

MarkdownDocument::~MarkdownDocument()
{
    // Frees iteratively, also for trees tens of thousands of levels deep.
    if (m_root)
        cmark_node_free(m_root);
}

std::shared_ptr<const MarkdownDocument> MarkdownDocument::parse(const QString &text)
{
    return std::make_shared<const MarkdownDocument>(text);
}

bool MarkdownDocument::isParseOf(const QString &text) const
{
    if (text.size() != m_text.size())
        return false;
    if (text.constData() == m_text.constData())
        return true;
    return text == m_text;
}

const SourceTextMap &MarkdownDocument::map() const
{
    std::call_once(m_mapOnce, [this] {
        m_map = std::make_unique<SourceTextMap>(m_utf8);
        buildContinuationLines();
    });
    return *m_map;
}

int MarkdownDocument::lineCount() const
{
    return map().lineCount();
}

namespace {

bool isInline(cmark_node *node)
{
    return (cmark_node_get_type(node) & CMARK_NODE_TYPE_MASK) == CMARK_NODE_TYPE_INLINE;
}

SourceRange recordedRange(cmark_node *node)
{
    return {{cmark_node_get_start_line(node), cmark_node_get_start_column(node)},
            {cmark_node_get_end_line(node), cmark_node_get_end_column(node) + 1}};
}

bool isValid(const SourceRange &range)
{
    return range.lower.line >= 1 && range.lower.column >= 1 && range.upper.line >= 1
        && !(range.upper < range.lower);
}

// Whether this parser library counts the inline columns of a paragraph's continuation lines from
// the first line's indentation: asked once of the library itself, so a release that fixes it is
// not corrected twice.
bool continuationColumnsAreShifted()
{
    static const bool shifted = [] {
        const MarkdownDocument probe(QStringLiteral("- a\nb *c*"));
        MarkdownWalker walker(probe.root());
        while (walker.next()) {
            if (walker.entering() && walker.node().kind() == MarkdownNodeKind::Emphasis)
                return cmark_node_get_start_column(walker.node().raw()) != 3;
        }
        return false;
    }();
    return shifted;
}

} // namespace

// The parser reads a paragraph's continuation line from where the container markers end (lazy
// lines) or from its first non-blank character (other lines), but counts the columns there as if
// the line were indented like the paragraph's first line: inline nodes on lazy continuation lines
// ("- item\nmore *x*") and on differently indented ones are off by the difference. Links and
// images over several lines are moreover recorded as starting on their last line. Both are put
// right here, once per parse, for the paragraphs (and setext headings) of more than one line.
void MarkdownDocument::buildContinuationLines() const
{
    m_continuationLines.assign(size_t(m_map->lineCount()) + 1, ContinuationLine {});
    if (!continuationColumnsAreShifted())
        return;
    MarkdownWalker walker(root());
    while (walker.next()) {
        if (!walker.entering())
            continue;
        cmark_node *node = walker.node().raw();
        const auto type = cmark_node_get_type(node);
        if (type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING) {
            walker.skipChildren();
            placeParagraphLines(node);
        } else if (walker.node().kind() == MarkdownNodeKind::Table) {
            walker.skipChildren(); // one row per line, placed right
        }
    }
}

void MarkdownDocument::placeParagraphLines(cmark_node *paragraph) const
{
    const int first = cmark_node_get_start_line(paragraph);
    const int last = std::min(cmark_node_get_end_line(paragraph), m_map->lineCount());
    const int column = cmark_node_get_start_column(paragraph);
    if (first < 1 || column < 1 || last <= first)
        return;
    // A line that starts inside a code span or inline HTML has no node of its own at its start;
    // such a line is read as a non-lazy one.
    for (int line = first + 1; line <= last; ++line) {
        const int start = contentStartColumn(line);
        m_continuationLines[size_t(line)] = {start, start - column};
    }

    // The node after a line break starts at the line's first content character, which tells the
    // line's offset exactly, lazy or not. A link or image there starts one or two characters
    // before its first child.
    bool lineStart = false;
    int prefix = 0;
    MarkdownWalker walker {MarkdownNode(paragraph)};
    while (walker.next()) {
        const MarkdownNode node = walker.node();
        const MarkdownNodeKind kind = node.kind();
        const bool linkLike = kind == MarkdownNodeKind::Link || kind == MarkdownNodeKind::Image;
        if (!walker.entering()) {
            if (!linkLike)
                continue;
            // Recorded with the line on which it closes: it starts where its text starts.
            const MarkdownNode child = node.firstChild();
            if (!child)
                continue;
            SourcePosition start;
            if (const auto found = m_linkStarts.find(child.raw()); found != m_linkStarts.end()) {
                start = found->second;
            } else {
                start = recordedRange(child.raw()).lower;
                shiftInline(start);
            }
            start.column -= kind == MarkdownNodeKind::Image ? 2 : 1;
            if (hasByteAt(start, kind == MarkdownNodeKind::Image ? '!' : '['))
                m_linkStarts[node.raw()] = start;
            continue;
        }
        if (kind == MarkdownNodeKind::SoftBreak || kind == MarkdownNodeKind::LineBreak) {
            lineStart = true;
            prefix = 0;
            continue;
        }
        if (!lineStart)
            continue;
        if (linkLike) {
            prefix += kind == MarkdownNodeKind::Image ? 2 : 1;
            continue;
        }
        lineStart = false;
        const SourcePosition recorded = recordedRange(node.raw()).lower;
        if (recorded.line > first && recorded.line <= last && recorded.column >= 1) {
            ContinuationLine &line = m_continuationLines[size_t(recorded.line)];
            if (kind == MarkdownNodeKind::Code) // recorded without its opening run
                prefix += backtickRunAt({recorded.line, line.contentStart});
            line.shift = line.contentStart + prefix - recorded.column;
        }
    }
}

int MarkdownDocument::backtickRunAt(SourcePosition position) const
{
    const auto offset = m_map->byteOffset(position);
    if (!offset)
        return 0;
    const qsizetype end = m_map->lineContentEnd(position.line);
    qsizetype i = *offset;
    while (i < end && m_utf8[i] == '`')
        ++i;
    return int(i - *offset);
}

bool MarkdownDocument::hasByteAt(SourcePosition position, char byte) const
{
    const auto offset = m_map->byteOffset(position);
    return offset && *offset < m_utf8.size() && position.column >= 1
        && *offset == m_map->lineStart(position.line) + position.column - 1
        && m_utf8.at(*offset) == byte;
}

// Container markers of a continuation line are ">" and blanks only: a ">" that was not a marker
// would have opened a block quote and ended the paragraph.
int MarkdownDocument::contentStartColumn(int line) const
{
    const qsizetype begin = m_map->lineStart(line);
    const qsizetype end = m_map->lineContentEnd(line);
    qsizetype i = begin;
    while (i < end && (m_utf8[i] == ' ' || m_utf8[i] == '\t' || m_utf8[i] == '>'))
        ++i;
    return int(i - begin + 1);
}

void MarkdownDocument::shiftInline(SourcePosition &position) const
{
    if (position.line >= 1 && size_t(position.line) < m_continuationLines.size())
        position.column += m_continuationLines[size_t(position.line)].shift;
}

std::optional<SourceRange> MarkdownDocument::sourceRange(MarkdownNode node) const
{
    if (!node)
        return std::nullopt;
    map(); // builds the continuation-line corrections too
    cmark_node *raw = node.raw();
    SourceRange range = recordedRange(raw);
    if (range.lower.line < 1 || range.upper.line < 1)
        return std::nullopt;
    switch (node.kind()) {
    case MarkdownNodeKind::Heading:
        // Read raw: an empty indented heading ("   #") is recorded with its end before its start.
        range = extendedHeadingRange(range);
        break;
    case MarkdownNodeKind::Code:
        shiftInline(range.lower);
        if (range.lower.line == range.upper.line)
            shiftInline(range.upper);
        range = widenedCodeRange(range);
        break;
    case MarkdownNodeKind::HtmlInline:
        range = inlineHtmlRange(range, node);
        break;
    case MarkdownNodeKind::Link:
    case MarkdownNodeKind::Image:
        if (const auto found = m_linkStarts.find(raw); found != m_linkStarts.end())
            range.lower = found->second;
        else
            shiftInline(range.lower);
        shiftInline(range.upper);
        break;
    default:
        if (isInline(raw)) {
            shiftInline(range.lower);
            shiftInline(range.upper);
        }
        break;
    }
    if (!isValid(range))
        return std::nullopt;
    return range;
}

SourceRange MarkdownDocument::widenedCodeRange(const SourceRange &range) const
{
    const SourceTextMap &lines = *m_map;
    const auto start = lines.byteOffset(range.lower);
    const auto end = lines.byteOffset(range.upper);
    if (!start || !end)
        return range;
    return RangeCorrections::widenInlineCode(
        range, m_utf8.constData(), *start, *end, [&](int line) { return lines.lineStart(line); },
        [&](int line) { return lines.lineContentEnd(line); });
}

SourceRange MarkdownDocument::extendedHeadingRange(const SourceRange &range) const
{
    const SourceTextMap &lines = *m_map;
    const auto start = lines.byteOffset(range.lower);
    if (!start)
        return range;
    return RangeCorrections::extendHeading(
        range, m_utf8.constData(), m_utf8.size(), *start,
        [&](int line) { return lines.lineStart(line); },
        [&](int line) { return lines.lineContentEnd(line); });
}

// Inline HTML over several lines is recorded with an end column that does not count from the line
// start either. Its literal is the raw source, and its last line (less any indentation) starts at
// that line's first content character, so the end follows from the literal.
SourceRange MarkdownDocument::inlineHtmlRange(const SourceRange &range, MarkdownNode node) const
{
    SourceRange fixed = range;
    shiftInline(fixed.lower);
    if (range.lower.line == range.upper.line) {
        shiftInline(fixed.upper);
        return fixed;
    }
    std::string_view literal = node.literalUtf8();
    const size_t lastBreak = literal.find_last_of("\r\n");
    if (lastBreak == std::string_view::npos || range.upper.line > m_map->lineCount())
        return fixed;
    literal.remove_prefix(lastBreak + 1);
    while (!literal.empty() && (literal.front() == ' ' || literal.front() == '\t'))
        literal.remove_prefix(1);
    fixed.upper.column = contentStartColumn(range.upper.line) + int(literal.size());
    return fixed;
}

std::optional<TextRange> MarkdownDocument::textRange(MarkdownNode node) const
{
    const auto range = sourceRange(node);
    return range ? textRange(*range) : std::nullopt;
}

std::optional<TextRange> MarkdownDocument::textRange(const SourceRange &range) const
{
    const SourceTextMap &lines = map();
    const auto start = lines.byteOffset(range.lower);
    const auto end = lines.byteOffset(range.upper);
    if (!start || !end)
        return std::nullopt;
    const TextRange mapped {lines.utf16Offset(range.lower.line, *start),
                            lines.utf16Offset(range.upper.line, *end)};
    if (mapped.end < mapped.start)
        return std::nullopt;
    return mapped;
}

std::optional<qsizetype> MarkdownDocument::textOffset(SourcePosition position) const
{
    const SourceTextMap &lines = map();
    const auto byte = lines.byteOffset(position);
    if (!byte)
        return std::nullopt;
    return lines.utf16Offset(position.line, *byte);
}

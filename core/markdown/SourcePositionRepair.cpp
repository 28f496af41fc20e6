#include "core/markdown/SourcePositionRepair.h"

#include "core/markdown/MarkdownNode.h"
#include "core/markdown/RangeCorrections.h"
#include "core/markdown/SourceTextMap.h"

#include <cmark-gfm.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

namespace {

bool isTable(cmark_node *node)
{
    return MarkdownNode(node).kind() == MarkdownNodeKind::Table;
}

bool isTableRow(cmark_node *node)
{
    const MarkdownNodeKind kind = MarkdownNode(node).kind();
    return kind == MarkdownNodeKind::TableHeaderRow || kind == MarkdownNodeKind::TableRow;
}

// In a table row a pipe can only come from an escaped one, which moves the columns after it.
bool hasPipe(std::string_view text)
{
    return text.find('|') != std::string_view::npos;
}

bool hasPipe(const char *text)
{
    return text && std::strchr(text, '|');
}

bool isTableCell(cmark_node *node)
{
    return MarkdownNode(node).kind() == MarkdownNodeKind::TableCell;
}

bool isLeaf(cmark_node_type type)
{
    return type == CMARK_NODE_TEXT || type == CMARK_NODE_CODE || type == CMARK_NODE_HTML_INLINE;
}

// The position as recorded, made half-open.
SourceRange recorded(cmark_node *node)
{
    return {{cmark_node_get_start_line(node), cmark_node_get_start_column(node)},
            {cmark_node_get_end_line(node), cmark_node_get_end_column(node) + 1}};
}

std::string_view literalOf(cmark_node *node)
{
    const char *literal = cmark_node_get_literal(node);
    return literal ? std::string_view(literal) : std::string_view();
}

int leadingRun(std::string_view text, char c)
{
    int n = 0;
    while (size_t(n) < text.size() && text[size_t(n)] == c)
        ++n;
    return n;
}

// An autolink ("<http://x>") is recorded exactly two characters wider than the address inside it;
// so is a shortcut reference link ("[x]"). Both start one character before their only child and
// end one after it, which places them right whatever the parser counted.
bool isBracketedByOne(cmark_node *link)
{
    if (cmark_node_get_type(link) != CMARK_NODE_LINK)
        return false;
    cmark_node *child = cmark_node_first_child(link);
    if (!child || child != cmark_node_last_child(link)
        || cmark_node_get_type(child) != CMARK_NODE_TEXT)
        return false;
    const SourceRange outer = recorded(link);
    const SourceRange inner = recorded(child);
    return outer.lower.line == outer.upper.line && inner.lower.line == inner.upper.line
        && outer.upper.column - outer.lower.column == inner.upper.column - inner.lower.column + 2;
}

// Where the content the outermost block quote around a node sits in starts (1 when none).
int outerQuoteColumn(cmark_node *node, const SourceTextMap &lines)
{
    cmark_node *outer = nullptr;
    for (cmark_node *p = cmark_node_parent(node); p; p = cmark_node_parent(p)) {
        if (cmark_node_get_type(p) == CMARK_NODE_BLOCK_QUOTE)
            outer = p;
    }
    cmark_node *item = outer ? cmark_node_parent(outer) : nullptr;
    if (!item || cmark_node_get_type(item) != CMARK_NODE_ITEM)
        return 1;
    return lines.listItemContentColumn(cmark_node_get_start_line(item),
                                       cmark_node_get_start_column(item));
}

// What a continuation line must start with to go on in each container around a block, outermost
// first: a ">" (0) or the blanks up to a list item's content column.
std::vector<int> containerPrefixes(cmark_node *block, const SourceTextMap &lines)
{
    std::vector<int> prefixes;
    for (cmark_node *p = cmark_node_parent(block); p; p = cmark_node_parent(p)) {
        if (cmark_node_get_type(p) == CMARK_NODE_BLOCK_QUOTE)
            prefixes.push_back(0);
        else if (cmark_node_get_type(p) == CMARK_NODE_ITEM)
            prefixes.push_back(lines.listItemContentColumn(cmark_node_get_start_line(p),
                                                           cmark_node_get_start_column(p)));
    }
    std::reverse(prefixes.begin(), prefixes.end());
    return prefixes;
}

int quoteDepth(cmark_node *node)
{
    int depth = 0;
    for (cmark_node *p = cmark_node_parent(node); p; p = cmark_node_parent(p)) {
        if (cmark_node_get_type(p) == CMARK_NODE_BLOCK_QUOTE)
            ++depth;
    }
    return depth;
}

// The last line of a heading's text: a setext heading ends with its underline.
int lastTextLine(cmark_node *block)
{
    const int start = cmark_node_get_start_line(block);
    const int end = cmark_node_get_end_line(block);
    if (cmark_node_get_type(block) == CMARK_NODE_HEADING && end > start)
        return end - 1;
    return end;
}

// The position just after the character at `position`.
SourcePosition after(SourcePosition position)
{
    return {position.line, position.column + 1};
}

} // namespace

// ---- collecting

void SourcePositionRepair::Collector::enter(cmark_node *node)
{
    switch (cmark_node_get_type(node)) {
    case CMARK_NODE_PARAGRAPH:
    case CMARK_NODE_HEADING:
        m_block = node;
        m_lineBreaks = 0;
        m_suspect = false;
        return;
    case CMARK_NODE_SOFTBREAK:
    case CMARK_NODE_LINEBREAK:
        ++m_lineBreaks;
        return;
    case CMARK_NODE_CODE:
    case CMARK_NODE_HTML_INLINE:
        m_lineBreaks
            += std::max(0, cmark_node_get_end_line(node) - cmark_node_get_start_line(node));
        m_suspect = m_suspect || (inRow() && hasPipe(literalOf(node)));
        return;
    case CMARK_NODE_TEXT: {
        const std::string_view literal = literalOf(node);
        if (!literal.empty() && (literal.front() == '`' || literal.back() == '`'))
            m_suspect = true;
        m_suspect = m_suspect || (inRow() && hasPipe(literal));
        return;
    }
    case CMARK_NODE_LINK:
    case CMARK_NODE_IMAGE:
        if (isBracketedByOne(node))
            m_suspect = true;
        m_suspect = m_suspect
            || (inRow()
                && (hasPipe(cmark_node_get_url(node)) || hasPipe(cmark_node_get_title(node))));
        return;
    default:
        break;
    }
    if (isTableRow(node)) {
        m_block = node;
        m_lineBreaks = 0;
        m_suspect = false;
    } else if (isTable(node)) {
        m_candidates.push_back({node, 0}); // rows indented unlike the first, a text before it
    }
}

bool SourcePositionRepair::Collector::inRow() const
{
    return m_block && isTableRow(m_block);
}

void SourcePositionRepair::Collector::exit(cmark_node *node)
{
    if (node != m_block)
        return;
    m_block = nullptr;
    const int start = cmark_node_get_start_line(node);
    if (start < 1)
        return; // a paragraph before a table: repaired with the table
    if (m_suspect || (!isTableRow(node) && lastTextLine(node) > start))
        m_candidates.push_back({node, m_lineBreaks});
}

// ---- repairing

struct SourcePositionRepair::Walk
{
    int quotes = 0; // block quotes around the block: the ">" a line may start with
    int quoteColumn = 1; // where the outermost one's ">" stands
    int base = 0; // the recorded column of a line's content origin after a counted line break
    int lastLine = 0;
    Frame frame;
    int line = 0; // line of the last position placed
    SourceRange lastLeafRange; // an autolink's address, which places it
    // After a line break, until a node shows where the parser's counting of the new line stands.
    bool pending = false;
    int pendingLine = 0;
    int pendingColumn = 0;
    Frame provisional;
    // In a table cell the parser reads "\|" as "|": a column after an escaped pipe lies one
    // further in the text for each one before it. These are the columns the escaped pipes of the
    // cell the walk is in have in the parser's counting, in order.
    mutable int cellLine = 0;
    mutable std::vector<int> cellEscapes;
    mutable std::vector<int> cellBackslashes; // the same escapes' columns in the text
    // The text before a table is read again with every "\|" as "|": its lines' escapes are
    // found as the walk comes to them.
    bool textBeforeTable = false;
    int tabbedStart = 0; // where text starting with blanks made of a tab starts
    std::vector<int> prefixes; // see containerPrefixes()
};

SourcePositionRepair::SourcePositionRepair(const QByteArray &utf8, const SourceTextMap &lines,
                                           Store store)
    : m_utf8(utf8)
    , m_lines(lines)
    , m_store(std::move(store))
{
}

void SourcePositionRepair::repair(const Candidate &candidate)
{
    cmark_node *block = candidate.block;
    if (isTable(block)) {
        const bool split = followsText(block);
        if (split)
            repairSplitTable(cmark_node_previous(block), block);
        for (cmark_node *row = cmark_node_first_child(block); row; row = cmark_node_next(row)) {
            if (!(split && row == cmark_node_first_child(block)) && rowShift(row) != 0)
                repairRow(row);
        }
    } else if (isTableRow(block)) {
        cmark_node *table = cmark_node_parent(block);
        if (!(followsText(table) && block == cmark_node_first_child(table)))
            repairRow(block);
    } else {
        repairParagraph(candidate);
    }
}

// A text before a table is read again without positions when the table is found.
bool SourcePositionRepair::followsText(cmark_node *table)
{
    cmark_node *previous = cmark_node_previous(table);
    return previous && cmark_node_get_type(previous) == CMARK_NODE_PARAGRAPH
        && cmark_node_get_start_line(previous) < 1;
}

// Rows are counted as if indented like the table's first row, whose line may begin with a list
// item's marker.
int SourcePositionRepair::rowShift(cmark_node *row) const
{
    cmark_node *table = cmark_node_parent(row);
    if (cmark_node_get_start_line(row) == cmark_node_get_start_line(table))
        return 0;
    return contentStart(cmark_node_get_start_line(row), quoteDepth(table),
                        outerQuoteColumn(table, m_lines))
        - cmark_node_get_start_column(table);
}

void SourcePositionRepair::repairRow(cmark_node *row)
{
    Walk walk;
    walk.quotes = quoteDepth(row);
    walk.quoteColumn = outerQuoteColumn(row, m_lines);
    walk.line = walk.lastLine = cmark_node_get_start_line(row);
    walk.frame = {walk.line, 0, rowShift(row)};
    const SourceRange was = recorded(row);
    const SourceRange range {place(walk.frame, was.lower.column, walk),
                             placeEnd(walk.frame, was.upper.column - 1, walk)};
    if (range != was)
        m_store(row, range);
    walkInlines(row, walk);
}

void SourcePositionRepair::repairParagraph(const Candidate &candidate)
{
    cmark_node *block = candidate.block;
    const SourcePosition start {cmark_node_get_start_line(block),
                                cmark_node_get_start_column(block)};
    Walk walk;
    walk.quotes = quoteDepth(block);
    walk.quoteColumn = outerQuoteColumn(block, m_lines);
    walk.prefixes = containerPrefixes(block, m_lines);
    walk.base = start.column;
    walk.lastLine = std::min(lastTextLine(block), m_lines.lineCount());
    walk.line = start.line;
    walk.frame = {start.line, 0, 0};
    SourceRange range = recorded(block);
    const SourceRange was = range;
    // A setext heading is recorded up to where the block after it was found: to the end of the
    // next block's first line, or to the start of a blank line after it.
    if (cmark_node_get_type(block) == CMARK_NODE_HEADING && range.upper.line > start.line) {
        int underline = range.upper.line;
        if (range.upper.column == 1
            || contentStart(underline, walk.quotes, walk.quoteColumn) >= trimmedEnd(underline)) {
            --underline;
        } else if (const int next = nextBlockLine(block); next >= 1) {
            underline = std::min(underline, next - 1);
        } else if (next < 0 && !isUnderline(underline, walk)) {
            --underline; // the next block is text before a table, recorded without a line
        }
        underline = std::clamp(underline, start.line + 1, std::max(m_lines.lineCount(), 1));
        walk.lastLine = underline - 1;
        range.upper = {underline, trimmedEnd(underline)};
    }

    // Link reference definitions at the start take lines of their own that the text never comes
    // back to: the text starts as many lines before the end as it has line breaks.
    // Counting fails when a line break inside a link's destination hides a line from the
    // count; reading the definitions themselves tells where they end.
    // The line the definitions are read to end before is taken where the text's first node
    // starts on it; else the counted one, if definitions were read at all.
    const int counted = walk.lastLine - candidate.lineBreaks;
    int firstTextLine = start.line;
    if (counted > start.line && looksLikeReferenceDefinitions(start, counted)) {
        const int read = std::min(lineAfterDefinitions(start, walk), walk.lastLine);
        if (read > start.line && startsWithFirstNode(block, read, walk))
            firstTextLine = read;
        else if (read > start.line && startsWithFirstNode(block, counted, walk))
            firstTextLine = counted;
    }
    if (firstTextLine > start.line) {
        const int column = contentStart(firstTextLine, walk.quotes, walk.quoteColumn);
        range.lower = {firstTextLine, column};
        walk.line = firstTextLine;
        walk.pending = true;
        walk.pendingLine = firstTextLine;
        walk.pendingColumn = column;
        walk.provisional = walk.frame = {firstTextLine, walk.base, column};
    }
    if (range != was)
        m_store(block, range);
    walkInlines(block, walk);
}

// The line on which the block after `block` in document order starts: 0 when none follows, -1
// when it is recorded without a line.
int SourcePositionRepair::nextBlockLine(cmark_node *block)
{
    for (cmark_node *node = block; node; node = cmark_node_parent(node)) {
        if (cmark_node *next = cmark_node_next(node)) {
            const int line = cmark_node_get_start_line(next);
            return line >= 1 ? line : -1;
        }
    }
    return 0;
}

// Whether a line's content starts four columns or more after its blanks begin, where a block's
// content starting at `column` on its first line would.
bool SourcePositionRepair::indented(int line, int column) const
{
    const int content = contentStart(line, 0, 1);
    if (content <= column)
        return false;
    int width = 0;
    for (qsizetype i = m_lines.lineStart(line) + column - 1;
         i < m_lines.lineStart(line) + content - 1; ++i)
        width = m_utf8[i] == '\t' ? (width / 4 + 1) * 4 : width + 1;
    return width >= 4;
}

// A line of only "=" or only "-" (after its container markers and blanks).
bool SourcePositionRepair::isUnderline(int line, const Walk &walk) const
{
    const qsizetype begin
        = m_lines.lineStart(line) + contentStart(line, walk.quotes, walk.quoteColumn) - 1;
    const qsizetype end = m_lines.lineStart(line) + trimmedEnd(line) - 1;
    if (begin >= end || (m_utf8[begin] != '=' && m_utf8[begin] != '-'))
        return false;
    return std::all_of(m_utf8.constData() + begin, m_utf8.constData() + end,
                       [first = m_utf8[begin]](char c) { return c == first; });
}

// The text before the table keeps no positions, and the table is recorded from the text's start
// with its header row counted after the text. The rows after the header are placed right, and
// the delimiter row lies between them and the header.
void SourcePositionRepair::repairSplitTable(cmark_node *paragraph, cmark_node *table)
{
    cmark_node *header = cmark_node_first_child(table);
    if (!paragraph || !header)
        return;
    SourcePosition start {cmark_node_get_start_line(table), cmark_node_get_start_column(table)};
    cmark_node *firstRow = cmark_node_next(header);
    const int headerLine
        = (firstRow ? cmark_node_get_start_line(firstRow) : cmark_node_get_end_line(table) + 1) - 2;
    if (start.line < 1 || headerLine <= start.line || headerLine > m_lines.lineCount())
        return;
    const int quotes = quoteDepth(table);
    const int quoteColumn = outerQuoteColumn(table, m_lines);

    Walk text;
    text.quotes = quotes;
    text.quoteColumn = quoteColumn;
    text.base = 0; // the text is read again from column 0 of line 0
    text.lastLine = headerLine - 1;
    // Reference definitions and nothing else before a setext underline: the parser takes them
    // out when it meets the underline, which, having no text to make a heading of, becomes the
    // first line of the text read again.
    if (const int read = lineAfterDefinitions(start, text);
        read > start.line && isUnderline(read, text) && !indented(read, start.column)) {
        start = {read, contentStart(read, quotes, quoteColumn)};
    }
    text.line = start.line;
    text.pending = true;
    text.pendingLine = start.line;
    text.pendingColumn = start.column;
    text.provisional = text.frame = {start.line, 0, start.column};
    text.textBeforeTable = true;
    text.prefixes = containerPrefixes(paragraph, m_lines);
    m_store(paragraph, {start, {text.lastLine, trimmedEnd(text.lastLine)}});
    walkInlines(paragraph, text);

    const int column = contentStart(headerLine, quotes, quoteColumn);
    SourceRange tableRange = recorded(table);
    tableRange.lower = {headerLine, column};
    m_store(table, tableRange);
    m_store(header, {{headerLine, column}, {headerLine, trimmedEnd(headerLine)}});
    if (cmark_node *cell = cmark_node_first_child(header)) {
        Walk row;
        row.quotes = quotes;
        row.quoteColumn = quoteColumn;
        row.line = row.lastLine = headerLine;
        // The first cell starts after the row's leading pipe.
        const int cellColumn = column + (byteAt({headerLine, column}) == '|' ? 1 : 0);
        row.frame = {headerLine, cmark_node_get_start_column(cell), cellColumn};
        walkInlines(header, row);
    }
}

void SourcePositionRepair::walkInlines(cmark_node *container, Walk &walk)
{
    std::vector<std::pair<cmark_node *, SourcePosition>> open;
    cmark_iter *iter = cmark_iter_new(container);
    cmark_iter_next(iter); // the container itself
    for (cmark_event_type event; (event = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
        cmark_node *node = cmark_iter_get_node(iter);
        if (node == container)
            break;
        if (event == CMARK_EVENT_ENTER) {
            placeNode(node, walk, open);
            continue;
        }
        if (open.empty())
            continue;
        const auto [opened, lower] = open.back();
        open.pop_back();
        // A line break was the last thing inside: the closing markup starts the new line.
        if (walk.pending) {
            walk.frame = walk.provisional;
            walk.pending = false;
        }
        if (isTableCell(node)) {
            walk.cellEscapes.clear();
            walk.cellBackslashes.clear();
        }
        const SourceRange was = recorded(node);
        SourceRange range;
        if (lower.line == 0) { // placed by its only child
            range = {{walk.lastLeafRange.lower.line, walk.lastLeafRange.lower.column - 1},
                     {walk.lastLeafRange.upper.line, walk.lastLeafRange.upper.column + 1}};
        } else {
            range = {lower, placeEnd(walk.frame, was.upper.column - 1, walk)};
        }
        if (range != was)
            m_store(node, range);
        walk.line = range.upper.line;
    }
    cmark_iter_free(iter);
}

void SourcePositionRepair::placeNode(cmark_node *node, Walk &walk,
                                     std::vector<std::pair<cmark_node *, SourcePosition>> &open)
{
    const cmark_node_type type = cmark_node_get_type(node);
    if (type == CMARK_NODE_SOFTBREAK || type == CMARK_NODE_LINEBREAK) {
        // A break right after another ends the line that one began (a line holding only a
        // backslash), and is counted from it.
        if (walk.pending) {
            walk.frame = walk.provisional;
            walk.line = walk.pendingLine;
            walk.pending = false;
        }
        const bool onLine = walk.line >= 1 && walk.line <= m_lines.lineCount();
        const qsizetype end = onLine ? m_lines.lineContentEnd(walk.line) : 0;
        const bool backslash = type == CMARK_NODE_LINEBREAK && end > 0 && m_utf8[end - 1] == '\\';
        startLine(walk, backslash);
        return;
    }
    if (isBracketedByOne(node)) {
        if (walk.pending)
            ++walk.pendingColumn; // its "<" or "[" comes first on the line
        open.emplace_back(node, SourcePosition {});
        return;
    }

    const SourceRange was = recorded(node);
    if (walk.pending)
        anchor(walk, node, was.lower.column);
    SourcePosition lower = place(walk.frame, was.lower.column, walk);
    if (walk.tabbedStart > 0) {
        lower.column = std::exchange(walk.tabbedStart, 0);
    }
    if (!isLeaf(type)) {
        open.emplace_back(node, lower);
        walk.line = lower.line;
        if (isTableCell(node))
            findEscapedPipes(lower, walk, true);
        return;
    }

    if (was.upper < was.lower) {
        // Text a syntax extension makes (a "~" that strikes nothing through) has no end and
        // stays without a range; only its start tells where the walk stands.
        walk.line = lower.line;
        return;
    }
    const int lines = was.upper.line - was.lower.line;
    SourceRange raw {lower, {lower.line + lines, 1}};
    SourceRange range;
    bool changed = false;
    if (type == CMARK_NODE_CODE) {
        if (lines == 0)
            raw.upper = placeEnd(walk.frame, was.upper.column - 1, walk);
        changed = raw.lower != was.lower || raw.upper.line != was.upper.line
            || (lines == 0 && raw.upper != was.upper);
        range = finalCodeRange(raw);
        if (lines > 0) {
            // The parser counts on from where the closing run ends.
            const int run = lower.column - range.lower.column;
            walk.frame
                = {range.upper.line, walk.base + was.upper.column - 1 + run, range.upper.column};
        }
    } else if (type == CMARK_NODE_HTML_INLINE && lines > 0) {
        // The end is recorded from the last line's content start; the literal shows where.
        std::string_view literal = literalOf(node);
        literal.remove_prefix(literal.find_last_of("\r\n") + 1);
        while (!literal.empty() && (literal.front() == ' ' || literal.front() == '\t'))
            literal.remove_prefix(1);
        raw.upper.column
            = contentStart(raw.upper.line, walk.quotes, walk.quoteColumn) + int(literal.size());
        range = raw;
        changed = true;
        walk.frame = {range.upper.line, walk.base + was.upper.column, range.upper.column};
    } else {
        raw.upper = placeEnd(walk.frame, was.upper.column - 1, walk);
        if (type == CMARK_NODE_TEXT) {
            // An unmatched backtick run is recorded after itself; merged into text before it, it
            // only moves the text's end, merged into text after it only the start.
            // The literal may begin with more backticks than the run (escaped ones merged
            // into it), and only code ends on a backtick before text starting with one.
            const std::string_view literal = literalOf(node);
            const int run = leadingRun(literal, '`');
            const SourcePosition at = raw.lower;
            cmark_node *previous = cmark_node_previous(node);
            if (run > 0 && !(previous && cmark_node_get_type(previous) == CMARK_NODE_CODE))
                raw.lower.column -= runBefore(at, run);
            const SourcePosition end = raw.upper;
            if (!literal.empty() && literal.back() == '`'
                && byteAt({end.line, end.column - 1}) != '`'
                && byteAt({end.line, end.column - 2}) == '`')
                raw.upper.column -= 1;
        }
        range = raw;
        changed = raw != was;
    }
    if (changed)
        m_store(node, range);
    walk.lastLeafRange = range;
    walk.line = range.upper.line;
}

void SourcePositionRepair::startLine(Walk &walk, bool backslashBreak) const
{
    walk.pending = true;
    walk.pendingLine = std::min(walk.line + 1, walk.lastLine);
    walk.pendingColumn = contentStart(walk.pendingLine, walk.quotes, walk.quoteColumn);
    // After a counted break the parser starts the line at its content origin; a backslash break
    // is not counted, and the line before goes on.
    if (!backslashBreak)
        walk.provisional = {walk.pendingLine, walk.base + keptBlanks(walk.pendingLine, walk),
                            walk.pendingColumn};
    else
        walk.provisional = walk.frame;
}

// The first node after a line break starts at the line's first content character (the parser
// skips the blanks after a line break it counts), which ties its recorded column to a real one.
void SourcePositionRepair::anchor(Walk &walk, cmark_node *node, int recordedColumn) const
{
    int column = walk.pendingColumn;
    const SourcePosition at {walk.pendingLine, column};
    switch (cmark_node_get_type(node)) {
    case CMARK_NODE_TEXT: {
        const std::string_view literal = literalOf(node);
        // After a backslash break a lazy line's blanks stay in the text.
        size_t blanks = 0;
        while (blanks < literal.size() && (literal[blanks] == ' ' || literal[blanks] == '\t'))
            ++blanks;
        const int n = int(blanks);
        // What follows the blanks may be written escaped, as an entity or as the plain
        // punctuation typographic quotes, dashes and ellipses are made of.
        const char first = byteAt(at);
        const bool sameNext = blanks == literal.size() || first == literal[blanks] || first == '&'
            || (first == '\\' && byteAt({at.line, at.column + 1}) == literal[blanks])
            || (literal[blanks] == '\xE2' && std::strchr("'\"-.", first) && first != 0);
        bool blanksBefore = n > 0 && column > n && sameNext;
        for (int i = 1; blanksBefore && i <= n; ++i) {
            const char c = byteAt({at.line, column - i});
            blanksBefore = c == ' ' || c == '\t';
        }
        // A tab the container took part of leaves the rest as spaces: fewer bytes than blanks.
        int tabbed = 0;
        bool tab = false;
        for (char c; !blanksBefore && n > 0 && sameNext && tabbed < n
             && ((c = byteAt({at.line, column - tabbed - 1})) == ' ' || c == '\t');
             ++tabbed)
            tab = tab || c == '\t';
        if (blanksBefore) {
            column -= n;
        } else if (tab) {
            walk.frame = {walk.pendingLine, recordedColumn + n, column};
            walk.tabbedStart = column - tabbed;
            walk.pending = false;
            return;
        }
        // Recorded after the run, which may be shorter than the literal's (escapes after it).
        recordedColumn
            -= std::min(leadingRun(literal, '`'), backtickRun({walk.pendingLine, column}));
        break;
    }
    case CMARK_NODE_CODE:
        recordedColumn -= backtickRun(at); // recorded without its opening run
        break;
    default:
        break;
    }
    walk.frame = {walk.pendingLine, recordedColumn, column};
    walk.pending = false;
}

// Where a recorded column of the frame's counting lies. Columns past the end of the line belong
// to the lines after it: the parser counted on over a line break it did not notice.
SourcePosition SourcePositionRepair::place(const Frame &frame, int recordedColumn,
                                           const Walk &walk) const
{
    int line = frame.line;
    qint64 column = qint64(frame.column) + recordedColumn - frame.recordedColumn;
    // Escaped pipes before the frame's column are in it already (a frame set after a code span).
    auto escapesBefore = [&walk](qint64 at) {
        const auto &escapes = walk.cellBackslashes;
        return std::lower_bound(escapes.begin(), escapes.end(), at) - escapes.begin();
    };
    auto findEscapes = [&](int at) {
        if (walk.textBeforeTable && at != walk.cellLine)
            findEscapedPipes({at, contentStart(at, walk.quotes, walk.quoteColumn)}, walk, false);
    };
    qint64 counted = frame.column;
    while (line < walk.lastLine && line < m_lines.lineCount()) {
        qint64 content = m_lines.lineContentEnd(line) - m_lines.lineStart(line);
        findEscapes(line);
        if (walk.textBeforeTable) // the parser counts each "\|" as one
            content -= qint64(walk.cellEscapes.size()) - escapesBefore(counted);
        // The parser keeps a CR LF as a single line feed.
        const qint64 terminator = 1;
        if (column <= content + terminator)
            break;
        column = contentStart(line + 1, walk.quotes, walk.quoteColumn) - keptBlanks(line + 1, walk)
            + (column - content - terminator - 1);
        ++line;
        counted = 0;
    }
    findEscapes(line);
    if (line == walk.cellLine && !walk.cellEscapes.empty()) {
        const auto &escapes = walk.cellEscapes;
        const qint64 known = escapesBefore(counted);
        column += std::lower_bound(escapes.begin() + known, escapes.end(), column - known)
            - (escapes.begin() + known);
    }
    return {line, int(std::max<qint64>(column, 1))};
}

// Just after the character at a recorded column: after the pipe where that is an escaped one.
SourcePosition SourcePositionRepair::placeEnd(const Frame &frame, int recordedColumn,
                                              const Walk &walk) const
{
    SourcePosition position = place(frame, recordedColumn, walk);
    if (position.line == walk.cellLine && !walk.cellEscapes.empty() && byteAt(position) == '\\'
        && byteAt(after(position)) == '|')
        ++position.column;
    return after(position);
}

// The escaped pipes of the cell starting at `start`, up to the pipe that ends it.
void SourcePositionRepair::findEscapedPipes(SourcePosition start, const Walk &walk,
                                            bool toCellEnd) const
{
    walk.cellEscapes.clear();
    walk.cellBackslashes.clear();
    walk.cellLine = start.line;
    for (SourcePosition at = start; const char c = byteAt(at); ++at.column) {
        if (c == '|' && toCellEnd)
            break;
        if (c == '\\' && byteAt(after(at)) == '|') {
            walk.cellEscapes.push_back(at.column - int(walk.cellEscapes.size()));
            walk.cellBackslashes.push_back(at.column);
            ++at.column;
        }
    }
}

SourceRange SourcePositionRepair::finalCodeRange(const SourceRange &range) const
{
    const auto start = m_lines.byteOffset(range.lower);
    const auto end = m_lines.byteOffset(range.upper);
    if (!start || !end)
        return range;
    return RangeCorrections::widenInlineCode(
        range, m_utf8.constData(), *start, *end,
        [this](int line) { return m_lines.lineStart(line); },
        [this](int line) { return m_lines.lineContentEnd(line); });
}

int SourcePositionRepair::contentStart(int line, int quotes, int quoteColumn) const
{
    return m_lines.contentStartColumn(line, quotes, quoteColumn);
}

// The parser drops the blanks a paragraph's continuation line starts with only where every
// container around it goes on. On a lazy line it keeps them from where the first container that
// does not go on would have begun; a tab a container took part of stays as the spaces left of it.
int SourcePositionRepair::keptBlanks(int line, const Walk &walk) const
{
    if (walk.prefixes.empty() || line < 1 || line > m_lines.lineCount())
        return 0;
    const char *d = m_utf8.constData();
    qsizetype at = m_lines.lineStart(line);
    const qsizetype end = m_lines.lineContentEnd(line);
    auto blank = [&](qsizetype i) { return i < end && (d[i] == ' ' || d[i] == '\t'); };
    int column = 0; // tabs advance to the next multiple of four
    bool partialTab = false; // the tab at `at` is taken in part
    auto advance = [&](int count) {
        while (count > 0 && at < end) {
            const int step = d[at] == '\t' ? std::min(count, 4 - column % 4) : 1;
            partialTab = d[at] == '\t' && step < 4 - column % 4;
            column += step;
            count -= step;
            at += partialTab ? 0 : 1;
        }
    };
    for (const int prefix : walk.prefixes) {
        qsizetype first = at;
        int firstColumn = column;
        for (; blank(first); ++first)
            firstColumn = d[first] == '\t' ? (firstColumn / 4 + 1) * 4 : firstColumn + 1;
        if (prefix == 0 && firstColumn - column <= 3 && first < end && d[first] == '>') {
            advance(firstColumn - column + 1);
            if (blank(at))
                advance(1);
        } else if (prefix > 0 && firstColumn >= prefix - 1) {
            advance(prefix - 1 - column);
        } else {
            int kept = partialTab ? 4 - column % 4 : 0;
            for (qsizetype i = at + (partialTab ? 1 : 0); blank(i); ++i)
                ++kept;
            return kept;
        }
    }
    return 0;
}

int SourcePositionRepair::trimmedEnd(int line) const
{
    return m_lines.trimmedEndColumn(line);
}

char SourcePositionRepair::byteAt(SourcePosition position) const
{
    if (position.line < 1 || position.line > m_lines.lineCount() || position.column < 1)
        return 0;
    const qsizetype offset = m_lines.lineStart(position.line) + position.column - 1;
    return offset < m_lines.lineContentEnd(position.line) ? m_utf8[offset] : char(0);
}

int SourcePositionRepair::backtickRun(SourcePosition position) const
{
    int n = 0;
    while (byteAt({position.line, position.column + n}) == '`')
        ++n;
    return n;
}

int SourcePositionRepair::runBefore(SourcePosition position, int limit) const
{
    int n = 0;
    while (n < limit && byteAt({position.line, position.column - n - 1}) == '`')
        ++n;
    return n;
}

// The line after the link reference definitions a paragraph starts with (a label, a colon, a
// destination and an optional title, each part on the same line or the next), or 0 when the
// paragraph starts with none.
int SourcePositionRepair::lineAfterDefinitions(SourcePosition start, const Walk &walk) const
{
    const auto from = m_lines.byteOffset(start);
    if (!from)
        return 0;
    int line = start.line;
    qsizetype at = *from;
    const char *d = m_utf8.constData();
    auto lineEnd = [&] { return m_lines.lineContentEnd(line); };
    auto atEnd = [&] { return at >= lineEnd(); };
    // To the next line's content; false at the paragraph's last line.
    auto nextLine = [&] {
        if (line >= walk.lastLine)
            return false;
        ++line;
        at = m_lines.lineStart(line) + contentStart(line, walk.quotes, walk.quoteColumn) - 1;
        return true;
    };
    auto blanks = [&] {
        while (!atEnd() && (d[at] == ' ' || d[at] == '\t'))
            ++at;
    };
    // Blanks with at most one line break among them.
    auto space = [&] {
        blanks();
        if (atEnd() && nextLine())
            blanks();
    };
    // A lazy line in a block quote keeps its blanks for the parser, and a definition cannot
    // start after them.
    auto lazyBlanks = [&] {
        const qsizetype begin = m_lines.lineStart(line);
        return walk.quotes > 0 && line != start.line && at > begin
            && std::memchr(d + begin, '>', size_t(at - begin)) == nullptr;
    };
    int after = 0;
    while (!atEnd() && d[at] == '[' && !lazyBlanks()) {
        // The label: not blank, no "[" in it, followed by a colon.
        bool blank = true;
        for (++at;;) {
            if (atEnd()) {
                if (!nextLine())
                    return after;
                continue;
            }
            const char c = d[at];
            if (c == ']' || c == '[')
                break;
            blank = blank && (c == ' ' || c == '\t');
            at += c == '\\' ? 2 : 1;
        }
        if (atEnd() || d[at] != ']' || blank || at + 1 >= lineEnd() || d[at + 1] != ':')
            return after;
        at += 2;
        space();
        // The destination: in angle brackets, or up to a blank with its parentheses balanced.
        const qsizetype destination = at;
        // A backslash escapes ASCII punctuation only: before a blank it ends the destination.
        auto escapes = [&] {
            return d[at] == '\\' && at + 1 < lineEnd()
                && std::ispunct(static_cast<unsigned char>(d[at + 1]));
        };
        if (!atEnd() && d[at] == '<') {
            // The parser skips whatever follows a backslash here, a line feed too.
            for (++at;;) {
                if (atEnd())
                    return after;
                if (d[at] == '>' || d[at] == '<')
                    break;
                if (d[at] == '\\' && at + 1 == lineEnd()) {
                    const qsizetype next
                        = line < m_lines.lineCount() ? m_lines.lineStart(line + 1) : 0;
                    if (next != lineEnd() + 1 || !nextLine())
                        return after;
                    continue;
                }
                at += d[at] == '\\' ? 2 : 1;
            }
            if (d[at] != '>')
                return after;
            ++at;
        } else {
            int depth = 0;
            for (; !atEnd() && d[at] != ' ' && d[at] != '\t'; ++at) {
                if (escapes())
                    ++at;
                else if (d[at] == '(')
                    ++depth;
                else if (d[at] == ')' && --depth < 0)
                    break;
            }
            if (at == destination)
                return after; // the parser takes unbalanced parentheses too
        }
        const int destinationLine = line;
        const qsizetype destinationEnd = at;
        blanks();
        const bool endsLine = atEnd();
        // The title, if one follows and ends its line.
        bool titled = false;
        space();
        if (!atEnd() && (d[at] == '"' || d[at] == '\'' || d[at] == '(')) {
            const char close = d[at] == '(' ? ')' : d[at];
            // The parser takes the longest title there is. A backslash before punctuation either
            // escapes it or is a character of its own, so every place the title could go on to
            // is followed: `here` and `ahead` tell whether this place and the one after the next
            // are reached. The closing mark, and in parentheses an opening one, is passed only
            // escaped; a line break is a character of the title.
            std::optional<std::pair<int, qsizetype>> closing;
            bool here = true;
            bool ahead = false;
            for (++at; here || ahead;) {
                const char c = atEnd() ? '\n' : d[at];
                bool next = ahead;
                ahead = false;
                if (here) {
                    if (c == close)
                        closing = {line, at};
                    else if (close != ')' || c != '(')
                        next = true;
                    ahead = c == '\\' && escapes();
                }
                here = next;
                if (!atEnd())
                    ++at;
                else if (!nextLine())
                    break;
            }
            if (closing) {
                std::tie(line, at) = *closing;
                ++at;
                blanks();
                titled = atEnd();
            }
        }
        if (!titled) {
            if (!endsLine)
                return after;
            line = destinationLine;
            at = destinationEnd;
        }
        if (!nextLine())
            return after; // nothing follows: not a paragraph the repair sees
        after = line;
    }
    return after;
}

// Whether a line's content could start with the block's first inline node.
bool SourcePositionRepair::startsWithFirstNode(cmark_node *block, int line, const Walk &walk) const
{
    cmark_node *first = cmark_node_first_child(block);
    if (!first)
        return true;
    const char c = byteAt({line, contentStart(line, walk.quotes, walk.quoteColumn)});
    switch (cmark_node_get_type(first)) {
    case CMARK_NODE_TEXT: {
        // Blanks the line starts with may stay in the text; escapes, entities and typographic
        // punctuation are written otherwise.
        std::string_view literal = literalOf(first);
        while (!literal.empty() && (literal.front() == ' ' || literal.front() == '\t'))
            literal.remove_prefix(1);
        return literal.empty() || c == literal.front() || c == '\\' || c == '&'
            || static_cast<unsigned char>(literal.front()) == 0xE2;
    }
    case CMARK_NODE_LINK:
        return c == '[' || c == '<';
    case CMARK_NODE_IMAGE:
        return c == '!';
    case CMARK_NODE_CODE:
        return c == '`';
    case CMARK_NODE_EMPH:
    case CMARK_NODE_STRONG:
        return c == '*' || c == '_';
    case CMARK_NODE_HTML_INLINE:
        return c == '<';
    default:
        return true;
    }
}

// A definition starts with a bracketed label followed by a colon.
bool SourcePositionRepair::looksLikeReferenceDefinitions(SourcePosition start,
                                                         int firstTextLine) const
{
    if (byteAt(start) != '[')
        return false;
    const auto from = m_lines.byteOffset(start);
    if (!from)
        return false;
    const QByteArrayView between(m_utf8.constData() + *from,
                                 m_lines.lineStart(firstTextLine) - *from);
    // Its label: up to the first unescaped "]", with no "[" in it and not blank.
    bool blank = true;
    for (qsizetype i = 1; i < between.size(); ++i) {
        const char c = between[i];
        if (c == '\\') {
            blank = false;
            ++i;
        } else if (c == '[') {
            return false;
        } else if (c == ']') {
            return !blank && i + 1 < between.size() && between[i + 1] == ':';
        } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            blank = false;
        }
    }
    return false;
}

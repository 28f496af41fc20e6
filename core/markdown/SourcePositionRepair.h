#pragma once

#include "core/markdown/SourceRange.h"

#include <QByteArray>

#include <functional>
#include <vector>

struct cmark_node;
class SourceTextMap;

// Puts right the source positions the parser records wrongly, so that every node's range starts
// and ends on its own markup. The parser counts inline columns from a per-line origin it keeps
// while reading a paragraph, and that origin goes astray in several ways:
// - on continuation lines it is the first line's indentation, not the line's own (lazy lines,
//   deeper indentation);
// - a backslash hard break, and a line break inside a link's destination or title, do not start a
//   new line for it: later nodes are counted on the line before, from where that line began;
// - a paragraph that begins with link reference definitions is counted from its first line,
//   although its text starts after them;
// - autolinks are counted from the paragraph's start, without the line's origin at all;
// - an unmatched run of backticks is recorded after the run instead of on it;
// - a link's start takes the line on which the link closes;
// - the text of a paragraph that turns out to precede a table is re-read without positions, and
//   the table takes the paragraph's start line, its header row counted after the paragraph's text.
//
// The repair walks each affected paragraph in source order and keeps its own idea of where the
// parser's counting stands: after every line break the next node starts on the next line at its
// first content character, which pins the parser's columns to real ones again.
class SourcePositionRepair
{
public:
    // Blocks found while the tree is first walked whose positions need a look.
    struct Candidate
    {
        cmark_node *block = nullptr; // a paragraph, heading, table or table row
        int lineBreaks = 0; // soft and hard breaks, and lines inside code spans and inline HTML
    };

    // Collects candidates while the whole tree is walked once, entries and exits in order.
    class Collector
    {
    public:
        void enter(cmark_node *node);
        void exit(cmark_node *node);
        std::vector<Candidate> take() { return std::move(m_candidates); }

    private:
        bool inRow() const;

        std::vector<Candidate> m_candidates;
        cmark_node *m_block = nullptr;
        int m_lineBreaks = 0;
        bool m_suspect = false;
    };

    using Store = std::function<void(cmark_node *, const SourceRange &)>;

    SourcePositionRepair(const QByteArray &utf8, const SourceTextMap &lines, Store store);

    void repair(const Candidate &candidate);

private:
    // Recorded column `recordedColumn` of the parser's counting lies at (line, column).
    struct Frame
    {
        int line = 0;
        int recordedColumn = 0;
        int column = 0;
    };
    struct Walk;

    void repairParagraph(const Candidate &candidate);
    void repairSplitTable(cmark_node *paragraph, cmark_node *table);
    void repairRow(cmark_node *row);
    int rowShift(cmark_node *row) const;
    static bool followsText(cmark_node *table);
    void walkInlines(cmark_node *container, Walk &walk);
    void placeNode(cmark_node *node, Walk &walk,
                   std::vector<std::pair<cmark_node *, SourcePosition>> &open);

    SourcePosition place(const Frame &frame, int recordedColumn, const Walk &walk) const;
    SourcePosition placeEnd(const Frame &frame, int recordedColumn, const Walk &walk) const;
    void findEscapedPipes(SourcePosition start, const Walk &walk, bool toCellEnd) const;
    void startLine(Walk &walk, bool backslashBreak) const;
    void anchor(Walk &walk, cmark_node *node, int recordedColumn) const;
    SourceRange finalCodeRange(const SourceRange &range) const;

    int contentStart(int line, int quotes, int quoteColumn) const;
    int trimmedEnd(int line) const;
    int keptBlanks(int line, const Walk &walk) const;
    bool isUnderline(int line, const Walk &walk) const;
    bool indented(int line, int column) const;
    static int nextBlockLine(cmark_node *block);
    char byteAt(SourcePosition position) const;
    int backtickRun(SourcePosition position) const;
    int runBefore(SourcePosition position, int limit) const; // backticks ending before it
    bool looksLikeReferenceDefinitions(SourcePosition start, int firstTextLine) const;
    int lineAfterDefinitions(SourcePosition start, const Walk &walk) const;
    bool startsWithFirstNode(cmark_node *block, int line, const Walk &walk) const;

    const QByteArray &m_utf8;
    const SourceTextMap &m_lines;
    Store m_store;
};

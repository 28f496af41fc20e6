#pragma once

#include "core/markdown/MarkdownNode.h"

#include <QtGlobal>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class MarkdownDocument;

// The delimiters the page's KaTeX auto-render looks for: the preview's four, or the export
// page's two.
enum class MathDelimiters { Preview, Export };

// Mathematics in a block's inline content, found on the source as written the way KaTeX's
// auto-render finds it in the page's text, so that it reaches KaTeX as written instead of as the
// Markdown parse left it (backslash escapes removed, "*" pairs turned into emphasis).
//
// The rule, applied to each run of the block's text as written (container markers and the
// blanks starting continuation lines left out, lines joined by a line feed): find the leftmost
// opening delimiter, "$$" before "$" before "\(" before "\[" where several start at the same
// place; its end is the first closing delimiter after it outside braces, a backslash hiding
// the character after it; a delimiter without an end leaves the rest of the run as text. Runs
// end at code spans, inline HTML, images, and a link's brackets and destination (whose text is
// a run of its own): neither is ever mathematics.
class InlineMath
{
public:
    struct Span
    {
        qsizetype start = 0; // byte offsets in the document's UTF-8, half-open
        qsizetype end = 0;
        std::string text; // as written, delimiters included
    };

    // The spans of a paragraph's, heading's or table cell's inline content, in source order.
    static std::vector<Span> find(const MarkdownDocument &document, MarkdownNode block,
                                  MathDelimiters delimiters);
};

// Writes a block's inline content with its mathematics as written, for the renderer that walks
// the block: each formula as its escaped source in an element of its own (so the auto-render
// reads it apart from the text around it), the nodes inside it not at all, text and emphasis
// delimiters it cuts through as their remaining parts. The renderer writes every other node
// as usual.
class InlineMathWriter
{
public:
    InlineMathWriter(const MarkdownDocument &document, MarkdownNode block,
                     std::vector<InlineMath::Span> spans, std::string &out);

    // True when the node was written here (or is part of a formula); `skipChildren` is set when
    // its children are written with it.
    bool enter(MarkdownNode node, bool &skipChildren);
    // True when the node's end was written here.
    bool exit(MarkdownNode node);

private:
    std::optional<std::pair<qsizetype, qsizetype>> bytesOf(MarkdownNode node) const;
    bool pastFormulas() const;
    std::vector<InlineMath::Span>::const_iterator firstEndingAfter(qsizetype at) const;
    const InlineMath::Span *containing(qsizetype start, qsizetype end) const;
    bool overlaps(qsizetype start, qsizetype end) const;
    void writeFormula(const InlineMath::Span &span);
    void writeSource(qsizetype start, qsizetype end);
    void writeText(MarkdownNode text, qsizetype start, qsizetype end);

    const MarkdownDocument &m_document;
    std::vector<InlineMath::Span> m_spans;
    std::vector<bool> m_written;
    size_t m_unwritten = 0;
    std::string &m_out;
    qsizetype m_cursor = 0; // source byte just after what was walked
    std::vector<MarkdownNode> m_dissolved; // emphasis a formula cuts through
};

#pragma once

#include "core/markdown/InlineMath.h"
#include "core/markdown/MarkdownNode.h"

#include <QString>

class MarkdownDocument;

#include <string>
#include <string_view>

// Renders a parsed Markdown tree as the body HTML of the preview and export pages. Block elements
// that start a construct carry the source line they start on (` data-line="N"`), which scroll
// synchronisation and the API's preview probes read; nothing is put between elements.
//
// The walk is iterative, so trees of any depth render. The UTF-8 functions are the fast path; the
// QString ones convert once at the end.
class HTMLRenderer
{
public:
    HTMLRenderer() = delete;

    // The output of each child of `node`, in order, concatenated.
    static QString visitChildren(MarkdownNode node);
    static void appendChildren(std::string &out, MarkdownNode node);
    // The children of a parsed document's root, with the document's own line for every block
    // and the mathematics the page's auto-render finds with these delimiters as written.
    static void appendChildren(std::string &out, const MarkdownDocument &document,
                               MathDelimiters delimiters = MathDelimiters::Preview);
    // The output of `node` itself (its element around its children).
    static QString render(MarkdownNode node);
    static void append(std::string &out, MarkdownNode node);
    // The same for a node of a parsed document, with the document's lines and mathematics.
    static void append(std::string &out, const MarkdownDocument &document, MarkdownNode node,
                       MathDelimiters delimiters = MathDelimiters::Preview);

    // "&", "<", ">" and "\"" replaced by their entities; everything else unchanged.
    static QString escapeHTML(const QString &text);
    static void appendEscaped(std::string &out, std::string_view text);

    // " data-line=\"N\"" with the node's start line, or "" for a node without a position.
    static QString sourceLineAttribute(MarkdownNode node);
};

#pragma once

#include "core/markdown/SourceRange.h"

#include <QString>

#include <optional>
#include <string_view>

struct cmark_node;

enum class MarkdownNodeKind {
    None,
    Document,
    BlockQuote,
    List,
    Item, // task items too: see MarkdownNode::taskState
    CodeBlock,
    HtmlBlock,
    CustomBlock,
    Paragraph,
    Heading,
    ThematicBreak,
    FootnoteDefinition,
    Table,
    TableHeaderRow,
    TableRow,
    TableCell,
    Text,
    SoftBreak,
    LineBreak,
    Code,
    HtmlInline,
    CustomInline,
    Emphasis,
    Strong,
    Strikethrough,
    Link,
    Image,
    FootnoteReference,
    Other,
};

enum class MarkdownListType { None, Bullet, Ordered };
enum class MarkdownTaskState { None, Unchecked, Checked };

// A non-owning handle to one node of a parsed tree. It is valid only while the MarkdownDocument
// that produced it is alive; handles are cheap to copy and compare.
//
// String accessors return views into the tree (UTF-8, valid as long as the document); the QString
// variants convert. Accessors that do not apply to the node's kind return empty values.
class MarkdownNode
{
public:
    MarkdownNode() = default;
    explicit MarkdownNode(cmark_node *node)
        : m_node(node)
    {
    }

    bool isNull() const { return m_node == nullptr; }
    explicit operator bool() const { return m_node != nullptr; }
    cmark_node *raw() const { return m_node; }

    MarkdownNodeKind kind() const;
    // Kinds the tree walker reports with an enter event only (they never have children).
    bool isLeaf() const;

    MarkdownNode parent() const;
    MarkdownNode firstChild() const;
    MarkdownNode lastChild() const;
    MarkdownNode next() const;
    MarkdownNode previous() const;

    int headingLevel() const; // 1 to 6 for headings, else 0
    // Text, inline code, code block, HTML block and inline HTML content. Text is what the parser
    // delivers: escapes removed, entities decoded, smart punctuation applied. Code blocks keep the
    // line feed that ends their last line.
    std::string_view literalUtf8() const;
    QString literal() const;
    // The whole info string of a fenced code block (trimmed, unescaped, spaces inside kept); empty
    // for indented code blocks and fences without info.
    std::string_view fenceInfoUtf8() const;
    QString fenceInfo() const;
    bool isFencedCodeBlock() const;
    MarkdownListType listType() const;
    int listStart() const; // ordered lists; 0 for bullet lists
    bool isTightList() const;
    MarkdownTaskState taskState() const;
    std::string_view urlUtf8() const; // link destination, image source
    QString url() const;
    std::string_view titleUtf8() const;

    // Line of the node's first character as the parser recorded it (right for blocks), 0 when it
    // recorded no position.
    int startLine() const;
    // The position exactly as the parser recorded it, made half-open (end column + 1). None when
    // there is no valid position: start line and column at least 1, end line at least 1 and the
    // end not before the start. Documents add their own normalisation (MarkdownDocument).
    std::optional<SourceRange> parserRange() const;

    friend bool operator==(const MarkdownNode &, const MarkdownNode &) = default;

private:
    cmark_node *m_node = nullptr;
};

#include "core/markdown/MarkdownNode.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <cstring>

namespace {

std::string_view view(const char *s)
{
    return s ? std::string_view(s) : std::string_view();
}

QString toQString(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Extension node types get their ids when the extensions are registered (before any parse). The
// library exports them, though no installed header declares them.
extern "C" {
extern cmark_node_type CMARK_NODE_TABLE;
extern cmark_node_type CMARK_NODE_TABLE_ROW;
extern cmark_node_type CMARK_NODE_TABLE_CELL;
extern cmark_node_type CMARK_NODE_STRIKETHROUGH;
}

MarkdownNodeKind extensionKind(cmark_node *node)
{
    const cmark_node_type type = cmark_node_get_type(node);
    if (type == CMARK_NODE_TABLE)
        return MarkdownNodeKind::Table;
    if (type == CMARK_NODE_TABLE_ROW)
        return cmark_gfm_extensions_get_table_row_is_header(node) ? MarkdownNodeKind::TableHeaderRow
                                                                  : MarkdownNodeKind::TableRow;
    if (type == CMARK_NODE_TABLE_CELL)
        return MarkdownNodeKind::TableCell;
    if (type == CMARK_NODE_STRIKETHROUGH)
        return MarkdownNodeKind::Strikethrough;
    return MarkdownNodeKind::Other;
}

} // namespace

MarkdownNodeKind MarkdownNode::kind() const
{
    if (!m_node)
        return MarkdownNodeKind::None;
    switch (cmark_node_get_type(m_node)) {
    case CMARK_NODE_NONE:
        return MarkdownNodeKind::None;
    case CMARK_NODE_DOCUMENT:
        return MarkdownNodeKind::Document;
    case CMARK_NODE_BLOCK_QUOTE:
        return MarkdownNodeKind::BlockQuote;
    case CMARK_NODE_LIST:
        return MarkdownNodeKind::List;
    case CMARK_NODE_ITEM:
        return MarkdownNodeKind::Item;
    case CMARK_NODE_CODE_BLOCK:
        return MarkdownNodeKind::CodeBlock;
    case CMARK_NODE_HTML_BLOCK:
        return MarkdownNodeKind::HtmlBlock;
    case CMARK_NODE_CUSTOM_BLOCK:
        return MarkdownNodeKind::CustomBlock;
    case CMARK_NODE_PARAGRAPH:
        return MarkdownNodeKind::Paragraph;
    case CMARK_NODE_HEADING:
        return MarkdownNodeKind::Heading;
    case CMARK_NODE_THEMATIC_BREAK:
        return MarkdownNodeKind::ThematicBreak;
    case CMARK_NODE_FOOTNOTE_DEFINITION:
        return MarkdownNodeKind::FootnoteDefinition;
    case CMARK_NODE_TEXT:
        return MarkdownNodeKind::Text;
    case CMARK_NODE_SOFTBREAK:
        return MarkdownNodeKind::SoftBreak;
    case CMARK_NODE_LINEBREAK:
        return MarkdownNodeKind::LineBreak;
    case CMARK_NODE_CODE:
        return MarkdownNodeKind::Code;
    case CMARK_NODE_HTML_INLINE:
        return MarkdownNodeKind::HtmlInline;
    case CMARK_NODE_CUSTOM_INLINE:
        return MarkdownNodeKind::CustomInline;
    case CMARK_NODE_EMPH:
        return MarkdownNodeKind::Emphasis;
    case CMARK_NODE_STRONG:
        return MarkdownNodeKind::Strong;
    case CMARK_NODE_LINK:
        return MarkdownNodeKind::Link;
    case CMARK_NODE_IMAGE:
        return MarkdownNodeKind::Image;
    case CMARK_NODE_FOOTNOTE_REFERENCE:
        return MarkdownNodeKind::FootnoteReference;
    default:
        return extensionKind(m_node);
    }
}

bool MarkdownNode::isLeaf() const
{
    if (!m_node)
        return true;
    switch (cmark_node_get_type(m_node)) {
    case CMARK_NODE_HTML_BLOCK:
    case CMARK_NODE_THEMATIC_BREAK:
    case CMARK_NODE_CODE_BLOCK:
    case CMARK_NODE_TEXT:
    case CMARK_NODE_SOFTBREAK:
    case CMARK_NODE_LINEBREAK:
    case CMARK_NODE_CODE:
    case CMARK_NODE_HTML_INLINE:
        return true;
    default:
        return false;
    }
}

MarkdownNode MarkdownNode::parent() const
{
    return MarkdownNode(m_node ? cmark_node_parent(m_node) : nullptr);
}

MarkdownNode MarkdownNode::firstChild() const
{
    return MarkdownNode(m_node ? cmark_node_first_child(m_node) : nullptr);
}

MarkdownNode MarkdownNode::lastChild() const
{
    return MarkdownNode(m_node ? cmark_node_last_child(m_node) : nullptr);
}

MarkdownNode MarkdownNode::next() const
{
    return MarkdownNode(m_node ? cmark_node_next(m_node) : nullptr);
}

MarkdownNode MarkdownNode::previous() const
{
    return MarkdownNode(m_node ? cmark_node_previous(m_node) : nullptr);
}

int MarkdownNode::headingLevel() const
{
    if (!m_node || cmark_node_get_type(m_node) != CMARK_NODE_HEADING)
        return 0;
    return cmark_node_get_heading_level(m_node);
}

std::string_view MarkdownNode::literalUtf8() const
{
    if (!m_node)
        return {};
    switch (cmark_node_get_type(m_node)) {
    case CMARK_NODE_TEXT:
    case CMARK_NODE_CODE:
    case CMARK_NODE_CODE_BLOCK:
    case CMARK_NODE_HTML_BLOCK:
    case CMARK_NODE_HTML_INLINE:
        return view(cmark_node_get_literal(m_node));
    default:
        return {};
    }
}

QString MarkdownNode::literal() const
{
    return toQString(literalUtf8());
}

std::string_view MarkdownNode::fenceInfoUtf8() const
{
    if (!m_node || cmark_node_get_type(m_node) != CMARK_NODE_CODE_BLOCK)
        return {};
    return view(cmark_node_get_fence_info(m_node));
}

QString MarkdownNode::fenceInfo() const
{
    return toQString(fenceInfoUtf8());
}

bool MarkdownNode::isFencedCodeBlock() const
{
    if (!m_node || cmark_node_get_type(m_node) != CMARK_NODE_CODE_BLOCK)
        return false;
    int length = 0;
    int offset = 0;
    char character = 0;
    return cmark_node_get_fenced(m_node, &length, &offset, &character) != 0;
}

MarkdownListType MarkdownNode::listType() const
{
    if (!m_node || cmark_node_get_type(m_node) != CMARK_NODE_LIST)
        return MarkdownListType::None;
    switch (cmark_node_get_list_type(m_node)) {
    case CMARK_BULLET_LIST:
        return MarkdownListType::Bullet;
    case CMARK_ORDERED_LIST:
        return MarkdownListType::Ordered;
    default:
        return MarkdownListType::None;
    }
}

int MarkdownNode::listStart() const
{
    if (!m_node || cmark_node_get_type(m_node) != CMARK_NODE_LIST)
        return 0;
    return cmark_node_get_list_start(m_node);
}

bool MarkdownNode::isTightList() const
{
    if (!m_node || cmark_node_get_type(m_node) != CMARK_NODE_LIST)
        return false;
    return cmark_node_get_list_tight(m_node) != 0;
}

MarkdownTaskState MarkdownNode::taskState() const
{
    if (!m_node || cmark_node_get_type(m_node) != CMARK_NODE_ITEM)
        return MarkdownTaskState::None;
    // The checkbox getter answers "unchecked" for plain items too; only items the tasklist
    // extension claimed are tasks.
    const char *type = cmark_node_get_type_string(m_node);
    if (!type || std::strcmp(type, "tasklist") != 0)
        return MarkdownTaskState::None;
    return cmark_gfm_extensions_get_tasklist_item_checked(m_node) ? MarkdownTaskState::Checked
                                                                  : MarkdownTaskState::Unchecked;
}

std::string_view MarkdownNode::urlUtf8() const
{
    if (!m_node)
        return {};
    const auto type = cmark_node_get_type(m_node);
    if (type != CMARK_NODE_LINK && type != CMARK_NODE_IMAGE)
        return {};
    return view(cmark_node_get_url(m_node));
}

QString MarkdownNode::url() const
{
    return toQString(urlUtf8());
}

std::string_view MarkdownNode::titleUtf8() const
{
    if (!m_node)
        return {};
    const auto type = cmark_node_get_type(m_node);
    if (type != CMARK_NODE_LINK && type != CMARK_NODE_IMAGE)
        return {};
    return view(cmark_node_get_title(m_node));
}

int MarkdownNode::startLine() const
{
    if (!m_node)
        return 0;
    const int line = cmark_node_get_start_line(m_node);
    return line > 0 ? line : 0;
}

std::optional<SourceRange> MarkdownNode::parserRange() const
{
    if (!m_node)
        return std::nullopt;
    const SourceRange range {
        {cmark_node_get_start_line(m_node), cmark_node_get_start_column(m_node)},
        {cmark_node_get_end_line(m_node), cmark_node_get_end_column(m_node) + 1}};
    if (range.lower.line < 1 || range.lower.column < 1 || range.upper.line < 1
        || range.upper < range.lower)
        return std::nullopt;
    return range;
}

#include "core/markdown/HTMLRenderer.h"

#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownWalker.h"

#include <array>
#include <charconv>
#include <optional>

namespace {

constexpr std::array<const char *, 256> escapeTable = [] {
    std::array<const char *, 256> table {};
    table['&'] = "&amp;";
    table['<'] = "&lt;";
    table['>'] = "&gt;";
    table['"'] = "&quot;";
    return table;
}();

void appendNumber(std::string &out, int value)
{
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The line of a parsed document's node comes from the document, which repairs the few the parser
// records wrongly; a node on its own has the recorded one.
void appendLineAttribute(std::string &out, MarkdownNode node, const MarkdownDocument *document)
{
    const int line = document ? document->startLine(node) : node.startLine();
    if (line < 1)
        return;
    out += " data-line=\"";
    appendNumber(out, line);
    out += '"';
}

// The image description as plain text (what a reader without the image gets): text, code and
// inline HTML literals, line breaks as spaces; nested images contribute their descriptions.
std::string plainText(MarkdownNode node)
{
    std::string text;
    MarkdownWalker walker(node);
    while (walker.next()) {
        if (!walker.entering())
            continue;
        switch (walker.node().kind()) {
        case MarkdownNodeKind::Text:
        case MarkdownNodeKind::Code:
        case MarkdownNodeKind::HtmlInline:
            text += walker.node().literalUtf8();
            break;
        case MarkdownNodeKind::SoftBreak:
        case MarkdownNodeKind::LineBreak:
            text += ' ';
            break;
        default:
            break;
        }
    }
    return text;
}

bool isHeaderCell(MarkdownNode cell)
{
    return cell.parent().kind() == MarkdownNodeKind::TableHeaderRow;
}

class Renderer
{
public:
    Renderer(std::string &out, const MarkdownDocument *document,
             MathDelimiters delimiters = MathDelimiters::Preview)
        : m_out(out)
        , m_document(document)
        , m_delimiters(delimiters)
    {
    }

    void run(MarkdownNode root, bool includeRoot)
    {
        MarkdownWalker walker(root);
        while (walker.next()) {
            const MarkdownNode node = walker.node();
            if (!includeRoot && node == root)
                continue;
            if (walker.entering())
                enter(walker, node);
            else
                exit(node);
        }
    }

private:
    void enter(MarkdownWalker &walker, MarkdownNode node)
    {
        if (m_math) {
            bool skipChildren = false;
            if (m_math->enter(node, skipChildren)) {
                if (skipChildren)
                    walker.skipChildren();
                return;
            }
        }
        std::string &out = m_out;
        switch (node.kind()) {
        case MarkdownNodeKind::Heading:
            out += "<h";
            appendNumber(out, node.headingLevel());
            appendLineAttribute(out, node, m_document);
            out += '>';
            startMath(node);
            break;
        case MarkdownNodeKind::Paragraph:
            out += "<p";
            appendLineAttribute(out, node, m_document);
            out += '>';
            startMath(node);
            break;
        case MarkdownNodeKind::BlockQuote:
            out += "<blockquote";
            appendLineAttribute(out, node, m_document);
            out += '>';
            break;
        case MarkdownNodeKind::CodeBlock: {
            out += "<pre";
            appendLineAttribute(out, node, m_document);
            out += "><code";
            const std::string_view language = node.fenceInfoUtf8();
            if (!language.empty()) {
                // The info string is document text; escaped it cannot leave the attribute.
                out += " class=\"language-";
                HTMLRenderer::appendEscaped(out, language);
                out += '"';
            }
            out += '>';
            HTMLRenderer::appendEscaped(out, node.literalUtf8());
            out += "</code></pre>";
            break;
        }
        case MarkdownNodeKind::HtmlBlock:
        case MarkdownNodeKind::HtmlInline:
            out += node.literalUtf8();
            break;
        case MarkdownNodeKind::ThematicBreak:
            out += "<hr";
            appendLineAttribute(out, node, m_document);
            out += '>';
            break;
        case MarkdownNodeKind::List:
            if (node.listType() == MarkdownListType::Ordered) {
                out += "<ol";
                if (node.listStart() != 1) {
                    out += " start=\"";
                    appendNumber(out, node.listStart());
                    out += '"';
                }
            } else {
                out += "<ul";
            }
            appendLineAttribute(out, node, m_document);
            out += '>';
            break;
        case MarkdownNodeKind::Item: {
            out += "<li";
            appendLineAttribute(out, node, m_document);
            out += '>';
            const MarkdownTaskState task = node.taskState();
            if (task != MarkdownTaskState::None) {
                out += "<input type=\"checkbox\"";
                if (task == MarkdownTaskState::Checked)
                    out += " checked";
                out += " disabled> ";
            }
            break;
        }
        case MarkdownNodeKind::Table:
            out += "<table";
            appendLineAttribute(out, node, m_document);
            out += '>';
            m_table = TableState::BeforeBody;
            break;
        case MarkdownNodeKind::TableHeaderRow:
            out += "<thead><tr>";
            break;
        case MarkdownNodeKind::TableRow:
            openBody();
            out += "<tr>";
            break;
        case MarkdownNodeKind::TableCell:
            out += isHeaderCell(node) ? "<th>" : "<td>";
            startMath(node);
            break;
        case MarkdownNodeKind::Text:
            HTMLRenderer::appendEscaped(out, node.literalUtf8());
            break;
        case MarkdownNodeKind::SoftBreak:
            out += '\n';
            break;
        case MarkdownNodeKind::LineBreak:
            out += "<br>";
            break;
        case MarkdownNodeKind::Code:
            out += "<code>";
            HTMLRenderer::appendEscaped(out, node.literalUtf8());
            out += "</code>";
            break;
        case MarkdownNodeKind::Emphasis:
            out += "<em>";
            break;
        case MarkdownNodeKind::Strong:
            out += "<strong>";
            break;
        case MarkdownNodeKind::Strikethrough:
            out += "<del>";
            break;
        case MarkdownNodeKind::Link:
            out += "<a href=\"";
            HTMLRenderer::appendEscaped(out, node.urlUtf8());
            out += "\">";
            break;
        case MarkdownNodeKind::Image:
            out += "<img src=\"";
            HTMLRenderer::appendEscaped(out, node.urlUtf8());
            out += "\" alt=\"";
            HTMLRenderer::appendEscaped(out, plainText(node));
            out += "\">";
            walker.skipChildren();
            break;
        default:
            break;
        }
    }

    void exit(MarkdownNode node)
    {
        if (m_math) {
            if (node == m_mathBlock)
                m_math.reset();
            else if (m_math->exit(node))
                return;
        }
        std::string &out = m_out;
        switch (node.kind()) {
        case MarkdownNodeKind::Heading:
            out += "</h";
            appendNumber(out, node.headingLevel());
            out += '>';
            break;
        case MarkdownNodeKind::Paragraph:
            out += "</p>";
            break;
        case MarkdownNodeKind::BlockQuote:
            out += "</blockquote>";
            break;
        case MarkdownNodeKind::List:
            out += node.listType() == MarkdownListType::Ordered ? "</ol>" : "</ul>";
            break;
        case MarkdownNodeKind::Item:
            out += "</li>";
            break;
        case MarkdownNodeKind::Table:
            openBody();
            out += "</tbody></table>";
            m_table = TableState::Outside;
            break;
        case MarkdownNodeKind::TableHeaderRow:
            out += "</tr></thead>";
            openBody();
            break;
        case MarkdownNodeKind::TableRow:
            out += "</tr>";
            break;
        case MarkdownNodeKind::TableCell:
            out += isHeaderCell(node) ? "</th>" : "</td>";
            break;
        case MarkdownNodeKind::Emphasis:
            out += "</em>";
            break;
        case MarkdownNodeKind::Strong:
            out += "</strong>";
            break;
        case MarkdownNodeKind::Strikethrough:
            out += "</del>";
            break;
        case MarkdownNodeKind::Link:
            out += "</a>";
            break;
        default:
            break;
        }
    }

    void startMath(MarkdownNode block)
    {
        if (!m_document)
            return;
        std::vector<InlineMath::Span> spans = InlineMath::find(*m_document, block, m_delimiters);
        if (spans.empty())
            return;
        m_math.emplace(*m_document, block, std::move(spans), m_out);
        m_mathBlock = block;
    }

    // The tree has no node for a table's body: it starts after the header row, and exists (empty)
    // when there are no further rows. Rows rendered outside a walk of their table get none.
    void openBody()
    {
        if (m_table != TableState::BeforeBody)
            return;
        m_out += "<tbody>";
        m_table = TableState::InBody;
    }

    enum class TableState { Outside, BeforeBody, InBody };

    std::string &m_out;
    const MarkdownDocument *m_document;
    MathDelimiters m_delimiters;
    std::optional<InlineMathWriter> m_math; // in a block with mathematics
    MarkdownNode m_mathBlock;
    TableState m_table = TableState::Outside; // tables cannot nest
};

} // namespace

void HTMLRenderer::appendChildren(std::string &out, MarkdownNode node)
{
    if (node)
        Renderer(out, nullptr).run(node, false);
}

void HTMLRenderer::appendChildren(std::string &out, const MarkdownDocument &document,
                                  MathDelimiters delimiters)
{
    Renderer(out, &document, delimiters).run(document.root(), false);
}

void HTMLRenderer::append(std::string &out, const MarkdownDocument &document, MarkdownNode node,
                          MathDelimiters delimiters)
{
    if (node)
        Renderer(out, &document, delimiters).run(node, true);
}

void HTMLRenderer::append(std::string &out, MarkdownNode node)
{
    if (node)
        Renderer(out, nullptr).run(node, true);
}

QString HTMLRenderer::visitChildren(MarkdownNode node)
{
    std::string out;
    appendChildren(out, node);
    return QString::fromUtf8(out.data(), qsizetype(out.size()));
}

QString HTMLRenderer::render(MarkdownNode node)
{
    std::string out;
    append(out, node);
    return QString::fromUtf8(out.data(), qsizetype(out.size()));
}

void HTMLRenderer::appendEscaped(std::string &out, std::string_view text)
{
    const char *chunk = text.data();
    const char *const end = text.data() + text.size();
    for (const char *p = chunk; p != end; ++p) {
        const char *entity = escapeTable[static_cast<unsigned char>(*p)];
        if (!entity)
            continue;
        out.append(chunk, p);
        out += entity;
        chunk = p + 1;
    }
    out.append(chunk, end);
}

QString HTMLRenderer::escapeHTML(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            escaped += QLatin1String("&amp;");
            break;
        case u'<':
            escaped += QLatin1String("&lt;");
            break;
        case u'>':
            escaped += QLatin1String("&gt;");
            break;
        case u'"':
            escaped += QLatin1String("&quot;");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString HTMLRenderer::sourceLineAttribute(MarkdownNode node)
{
    std::string out;
    appendLineAttribute(out, node, nullptr);
    return QString::fromLatin1(out.data(), qsizetype(out.size()));
}

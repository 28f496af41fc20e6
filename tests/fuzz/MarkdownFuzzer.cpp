// Any text as a Markdown document: every node's range must map back into the text and cover the
// node's own markup (what the highlighter styles), the preview's blocks must render to the whole
// body, mathematics must be found in order, and the highlighter and the outline must be built
// without a fault.
#include "FuzzInput.h"

#include "core/highlight/SyntaxHighlighter.h"
#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/InlineMath.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/OutlineParser.h"

namespace {

// Whether the covered text is that of the node: delimited constructs start and end on their
// delimiters, text the parser delivers as written (letters, digits and spaces) is covered
// exactly, less the blanks a line break takes away.
bool coversItsMarkup(MarkdownNode node, QStringView part)
{
    auto delimitedBy = [part](QStringView open, QStringView close) {
        return part.size() >= open.size() + close.size() && part.startsWith(open)
            && part.endsWith(close);
    };
    switch (node.kind()) {
    case MarkdownNodeKind::Emphasis:
        return delimitedBy(u"*", u"*") || delimitedBy(u"_", u"_");
    case MarkdownNodeKind::Strong:
        return delimitedBy(u"**", u"**") || delimitedBy(u"__", u"__");
    case MarkdownNodeKind::Strikethrough:
        return delimitedBy(u"~", u"~");
    case MarkdownNodeKind::Code:
        return delimitedBy(u"`", u"`");
    case MarkdownNodeKind::Text: {
        const QString literal = node.literal();
        for (const QChar c : literal) {
            if (!(c >= u'a' && c <= u'z') && !(c >= u'0' && c <= u'9') && c != u' ')
                return true;
        }
        // Blanks made of a tab a container took part of come as spaces, as many as it had left.
        QStringView got = part;
        QStringView expected = literal;
        if (got.startsWith(u'\t')) {
            auto unindented = [](QStringView s) {
                while (!s.isEmpty() && (s.front() == u' ' || s.front() == u'\t'))
                    s = s.mid(1);
                return s;
            };
            got = unindented(got);
            expected = unindented(expected);
        }
        return got == expected
            || (got.startsWith(expected) && got.mid(expected.size()).trimmed().isEmpty());
    }
    default:
        return true;
    }
}

// Source-ordered, apart, inside the text, each starting on its opening delimiter.
void checkMathSpans(const QByteArray &utf8, const std::vector<InlineMath::Span> &spans)
{
    qsizetype previous = 0;
    for (const InlineMath::Span &span : spans) {
        fuzz::check(span.start >= previous && span.start < span.end && span.end <= utf8.size(),
                    "formulas lie in order inside the text");
        fuzz::check(!span.text.empty() && utf8.at(span.start) == span.text.front()
                        && (span.text.front() == '$' || span.text.front() == '\\'),
                    "a formula starts on its delimiter");
        previous = span.end;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::text(data, size);
    const auto document = MarkdownDocument::parse(text);
    fuzz::check(document->isParseOf(text), "a parse stands for its text");
    // Depth first, without recursion: nesting is as deep as the input makes it.
    MarkdownNode node = document->root();
    while (node) {
        if (const auto range = document->textRange(node)) {
            fuzz::check(range->start >= 0 && range->start <= range->end
                            && range->end <= text.size(),
                        "node ranges lie inside the text");
            const QStringView covered = QStringView(text).mid(range->start, range->length());
            fuzz::check(coversItsMarkup(node, covered), "a node's range covers its own markup");
        }
        switch (node.kind()) {
        case MarkdownNodeKind::Paragraph:
        case MarkdownNodeKind::Heading:
        case MarkdownNodeKind::TableCell:
            checkMathSpans(document->utf8(),
                           InlineMath::find(*document, node, MathDelimiters::Preview));
            checkMathSpans(document->utf8(),
                           InlineMath::find(*document, node, MathDelimiters::Export));
            break;
        default:
            break;
        }
        if (MarkdownNode child = node.firstChild()) {
            node = child;
            continue;
        }
        while (node && !node.next())
            node = node.parent();
        if (node)
            node = node.next();
    }
    HTMLRenderer::render(document->root());

    // The preview renders block by block and patches the page with the blocks that changed.
    std::string body;
    HTMLRenderer::appendChildren(body, *document);
    std::string blocks;
    for (MarkdownNode block = document->root().firstChild(); block; block = block.next())
        HTMLRenderer::append(blocks, *document, block);
    fuzz::check(blocks == body, "the preview's blocks make up the body");
    std::string exported;
    HTMLRenderer::appendChildren(exported, *document, MathDelimiters::Export);

    SyntaxHighlighter::highlight(*document);
    for (const OutlineItem &item : OutlineParser::parse(*document)) {
        fuzz::check(item.level >= 1 && item.level <= 6 && item.line >= 1
                        && item.line <= document->lineCount(),
                    "outline items are headings on lines of the text");
    }
    return 0;
}

#include "core/markdown/OutlineParser.h"

#include "core/markdown/MarkdownWalker.h"

#include <string>

QList<OutlineItem> OutlineParser::parse(const QString &text)
{
    return parse(MarkdownDocument(text));
}

QList<OutlineItem> OutlineParser::parse(const MarkdownDocument &document)
{
    QList<OutlineItem> items;
    for (MarkdownNode child = document.root().firstChild(); child; child = child.next()) {
        if (child.kind() != MarkdownNodeKind::Heading || !child.parserRange())
            continue;
        // The document's line: a heading after link reference definitions starts below them.
        items.append(
            OutlineItem(child.headingLevel(), plainTitle(child), document.startLine(child)));
    }
    return items;
}

QString OutlineParser::plainTitle(MarkdownNode heading)
{
    std::string title;
    MarkdownWalker walker(heading);
    while (walker.next()) {
        if (!walker.entering())
            continue;
        switch (walker.node().kind()) {
        case MarkdownNodeKind::Text:
        case MarkdownNodeKind::HtmlInline:
            title += walker.node().literalUtf8();
            break;
        case MarkdownNodeKind::Code:
            title += '`';
            title += walker.node().literalUtf8();
            title += '`';
            break;
        case MarkdownNodeKind::SoftBreak:
            title += ' ';
            break;
        case MarkdownNodeKind::LineBreak:
            title += '\n';
            break;
        default:
            break;
        }
    }
    return QString::fromUtf8(title.data(), qsizetype(title.size()));
}

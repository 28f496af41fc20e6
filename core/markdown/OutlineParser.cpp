#include "core/markdown/OutlineParser.h"

#include "core/markdown/MarkdownWalker.h"
#include "core/markdown/TextAnalysis.h"

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

QList<OutlineItem> OutlineParser::parse(const TextAnalysis &analysis,
                                        QList<OutlineItem> (*part)(const TextAnalysis &))
{
    // The layout is made either way, for the revision after this one.
    const LocalReparse *local = analysis.localReparse();
    const std::shared_ptr<const TextAnalysis> base = local ? analysis.base() : nullptr;
    const std::shared_ptr<const QList<OutlineItem>> earlier = base ? base->made(part) : nullptr;
    if (!earlier)
        return parse(analysis.document());
    // Lines are 1-based here.
    const int windowStart = local->firstLine + 1;
    const int windowEnd = windowStart + local->oldLineCount;
    QList<OutlineItem> items;
    items.reserve(earlier->size() + 4);
    auto at = earlier->begin();
    for (; at != earlier->end() && at->line < windowStart; ++at)
        items.append(*at);
    for (OutlineItem item : parse(*local->window)) {
        if (item.line > local->newLineCount)
            break;
        item.line += local->firstLine;
        items.append(item);
    }
    while (at != earlier->end() && at->line < windowEnd)
        ++at;
    for (; at != earlier->end(); ++at) {
        items.append(*at);
        items.back().line += local->lineDelta;
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

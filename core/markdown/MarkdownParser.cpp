#include "core/markdown/MarkdownParser.h"

#include "core/markdown/HTMLRenderer.h"

#include <string>

QString MarkdownParser::renderBody(const QString &markdown)
{
    return renderBody(MarkdownDocument(markdown));
}

QString MarkdownParser::renderBody(const MarkdownDocument &document)
{
    std::string html;
    // Markup adds roughly a third to the source; one allocation covers most documents.
    html.reserve(size_t(document.utf8().size()) * 4 / 3 + 64);
    HTMLRenderer::appendChildren(html, document);
    return QString::fromUtf8(html.data(), qsizetype(html.size()));
}

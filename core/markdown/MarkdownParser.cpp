#include "core/markdown/MarkdownParser.h"

#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/MarkdownPageBuilder.h"

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

QString MarkdownParser::renderPage(const QString &markdown)
{
    return MarkdownPageBuilder::shared().renderPage(markdown);
}

QString MarkdownParser::renderPage(const MarkdownDocument &document)
{
    return MarkdownPageBuilder::shared().renderPage(document);
}

QString MarkdownParser::renderExportPage(const QString &markdown)
{
    return MarkdownPageBuilder::shared().renderExportPage(markdown);
}

QString MarkdownParser::renderExportPage(const MarkdownDocument &document)
{
    return MarkdownPageBuilder::shared().renderExportPage(document);
}

const QString &MarkdownParser::themeCSS()
{
    return MarkdownPageBuilder::shared().themeCSS();
}

const QStringList &MarkdownParser::previewScripts()
{
    return MarkdownPageBuilder::shared().previewScripts();
}

std::optional<QString> MarkdownParser::loadResource(const QString &fileName)
{
    return MarkdownPageBuilder::shared().loadResource(fileName);
}

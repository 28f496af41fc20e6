#pragma once

#include "core/markdown/MarkdownDocument.h"

#include <QString>
#include <QStringList>

#include <optional>

// Markdown text to HTML for the web views: the body fragment, the preview page the live preview
// loads once, and the self-contained export page. The style sheets and scripts come from the
// installed web assets, read once per process (MarkdownPageBuilder::shared()).
//
// Every function taking text parses it afresh; the overloads taking a MarkdownDocument use an
// existing parse of the same text and give the same result.
class MarkdownParser
{
public:
    MarkdownParser() = delete;

    static QString renderBody(const QString &markdown);
    static QString renderBody(const MarkdownDocument &document);
    static QString renderPage(const QString &markdown);
    static QString renderPage(const MarkdownDocument &document);
    static QString renderExportPage(const QString &markdown);
    static QString renderExportPage(const MarkdownDocument &document);

    static const QString &themeCSS();
    static const QStringList &previewScripts();
    static std::optional<QString> loadResource(const QString &fileName);
};

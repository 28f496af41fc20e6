#pragma once

#include "core/markdown/MarkdownDocument.h"

#include <QString>
#include <QStringList>

// Markdown text to the HTML body fragment for the web views. The pages around it (the preview
// page and the self-contained export page, with their style sheets and scripts) come from a
// MarkdownPageBuilder over the installed web assets.
//
// The overload taking text parses it afresh; the one taking a MarkdownDocument uses an existing
// parse of the same text and gives the same result.
class MarkdownParser
{
public:
    MarkdownParser() = delete;

    static QString renderBody(const QString &markdown);
    static QString renderBody(const MarkdownDocument &document);
};

#pragma once

#include "core/markdown/MarkdownDocument.h"
#include "core/model/OutlineItem.h"

#include <QList>
#include <QString>

// The top-level headings of a Markdown text, for the outline panel and the API. Headings inside
// block quotes, list items and other containers are not listed.
class OutlineParser
{
public:
    OutlineParser() = delete;

    // Parses the text afresh; never fails (any text yields whatever headings it has).
    static QList<OutlineItem> parse(const QString &text);
    // The same from an existing parse of the text.
    static QList<OutlineItem> parse(const MarkdownDocument &document);

    // A heading's inline content as plain text: text as the parser delivers it (smart
    // punctuation applied), inline code with one backtick on each side, soft breaks as spaces,
    // hard breaks as line feeds, inline HTML as written; markup around text is dropped.
    static QString plainTitle(MarkdownNode heading);
};

#pragma once

#include "core/markdown/MarkdownDocument.h"
#include "core/model/OutlineItem.h"

class TextAnalysis;

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
    // The same for an analysed revision, as its part `part`: where the revision was re-parsed
    // locally and its base has that part made, the base's headings with those of the re-parsed
    // lines put in their place.
    static QList<OutlineItem> parse(const TextAnalysis &analysis,
                                    QList<OutlineItem> (*part)(const TextAnalysis &));

    // A heading's inline content as plain text: text as the parser delivers it (smart
    // punctuation applied), inline code with one backtick on each side, soft breaks as spaces,
    // hard breaks as line feeds, inline HTML as written; markup around text is dropped.
    static QString plainTitle(MarkdownNode heading);
};

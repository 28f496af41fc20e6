#pragma once

#include "core/highlight/HighlightStyle.h"

#include <QString>

class MarkdownDocument;
class TextAnalysis;

// Styles Markdown source from one parse of the whole text: headings, quotes, code, emphasis,
// links and their syntax markers get colour roles and font traits; everything else keeps the base
// look. Nothing is kept between calls, so the result is always that of a fresh restyle.
namespace SyntaxHighlighter {

// The runs of the parsed text (document.text()), line by line. An empty text has no runs.
HighlightRuns highlight(const MarkdownDocument &document);

// The runs of an analysed revision, for the part `part` of it. Where the revision was re-parsed
// locally and its base has that part made, the base's runs are taken with the re-parsed lines
// restyled; otherwise the whole parse is styled. Either way the runs are those of a fresh parse.
HighlightRuns highlight(const TextAnalysis &analysis, HighlightRuns (*part)(const TextAnalysis &));

// Parses and highlights (tests and one-off callers).
HighlightRuns highlight(const QString &text);

// The style of every UTF-16 unit of the text (tests): what the runs encode.
std::vector<HighlightStyle> styles(const MarkdownDocument &document);

} // namespace SyntaxHighlighter

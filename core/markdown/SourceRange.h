#pragma once

#include <QtGlobal>

#include <compare>

// A place in the Markdown source as the parser counts it: 1-based line, 1-based column in UTF-8
// bytes of that line.
struct SourcePosition
{
    int line = 0;
    int column = 0;

    friend auto operator<=>(const SourcePosition &, const SourcePosition &) = default;
};

// A half-open source range: `lower` is the first character, `upper` the position just after the
// last one.
struct SourceRange
{
    SourcePosition lower;
    SourcePosition upper;

    friend bool operator==(const SourceRange &, const SourceRange &) = default;
};

// A half-open range of the text in UTF-16 code units (QString indices).
struct TextRange
{
    qsizetype start = 0;
    qsizetype end = 0;

    qsizetype length() const { return end - start; }
    friend bool operator==(const TextRange &, const TextRange &) = default;
};

#pragma once

#include "core/markdown/MarkdownDocument.h"
#include "core/model/SharedEnds.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// Where the top-level blocks of a text start (lines end at LF only), and what tells whether an
// edit of the text may be re-parsed where it happened.
struct BlockLayout
{
    struct Block
    {
        int line = 0; // 0-based
        qsizetype offset = 0; // UTF-16 offset of the line's start
        // A list stays open over blank lines: the line that closes it closes a fenced code block
        // in it too, which the parser then lets end on that line.
        bool isList = false;
    };

    std::vector<Block> blocks;
    int lineCount = 1;
    // Lines the parser ends at a CR count differently from the LF lines of the views.
    bool hasCarriageReturn = false;
    // "]:" somewhere: a link reference definition may be there, and it applies to every link of
    // the text.
    bool hasDefinitionMarker = false;

    static BlockLayout of(const MarkdownDocument &document);
};

// The lines of a text that must be parsed again after it changed from an earlier text, and their
// parse. Top-level blocks before `firstLine` and from `firstLine + oldLineCount` of the earlier
// text on come out of a parse of the new text exactly as they were (moved by `lineDelta` lines
// and `offsetDelta` units after the edit); the new text's lines `firstLine` to
// `firstLine + newLineCount` parse as the first `newLineCount` lines of `window`.
//
// A re-parse starts at a top-level block before the edit that follows a blank line and no list:
// there the parser has nothing open that the line could continue or that could end on it. It ends
// at such a block after the edit that the new text's parse starts too, found by parsing up to and
// including that block's first line; failing that, it runs to the end of the text. It is refused
// where the parse of the window could differ from that of the whole text: a link reference
// definition in the edited lines or (being global) anywhere else while the window has a link, or
// line ends other than LF.
struct LocalReparse
{
    int firstLine = 0;
    qsizetype offset = 0; // of firstLine, in both texts
    int oldLineCount = 0;
    int newLineCount = 0;
    int lineDelta = 0;
    qsizetype oldEnd = 0; // offset of the earlier text's first line after the window
    qsizetype offsetDelta = 0;
    std::shared_ptr<const MarkdownDocument> window;

    // None when the new text must be parsed whole. `known` is what the texts are known to share
    // at their ends (an edit's caller knows where it changed the text); only the rest is compared.
    static std::optional<LocalReparse> find(const BlockLayout &earlier, const QString &earlierText,
                                            const QString &text, SharedEnds known = {});
    // The layout of the new text.
    BlockLayout splice(const BlockLayout &earlier) const;
};

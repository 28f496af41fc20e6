#pragma once

#include "core/markdown/MarkdownDocument.h"
#include "core/model/SharedEnds.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// Where the top-level blocks of a text start (lines end at LF only), and what tells whether an
// edit of the text may be re-parsed where it happened.
//
// The blocks are kept in immutable chunks of a few hundred, each with a line and an offset shift
// for all its blocks. A layout made from another by a local re-parse shares every chunk the edit
// did not touch: making it, copying it and releasing it cost about the number of chunks plus the
// blocks re-parsed, not the number of blocks. Chunks are never changed once made, so a layout may
// be read from any thread.
class BlockLayout
{
public:
    struct Block
    {
        int line = 0; // 0-based
        qsizetype offset = 0; // UTF-16 offset of the line's start
        // A list stays open over blank lines: the line that closes it closes a fenced code block
        // in it too, which the parser then lets end on that line.
        bool isList = false;

        bool operator==(const Block &) const = default;
    };

    int lineCount = 1;
    // Lines the parser ends at a CR count differently from the LF lines of the views.
    bool hasCarriageReturn = false;
    // "]:" somewhere: a link reference definition may be there, and it applies to every link of
    // the text.
    bool hasDefinitionMarker = false;

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    Block operator[](size_t index) const; // a search among the chunks
    template<typename F> void forEach(F &&f) const;
    // The index of the first block that starts at `offset` or later (lowerBound), or after it
    // (upperBound); size() when there is none.
    size_t lowerBound(qsizetype offset) const;
    size_t upperBound(qsizetype offset) const;

    static BlockLayout of(const MarkdownDocument &document);

private:
    friend struct LocalReparse;
    struct Part
    {
        // Lines and offsets as if the shifts were 0; never empty.
        std::shared_ptr<const std::vector<Block>> chunk;
        int lineShift = 0;
        qsizetype offsetShift = 0;
        size_t first = 0; // index of the chunk's first block in the layout
    };
    using Parts = std::vector<Part>;

    // This layout with the blocks [from, to) replaced by `blocks`, and the blocks after them
    // moved by `lineShift` lines and `offsetShift` units.
    BlockLayout replaced(size_t from, size_t to, std::vector<Block> blocks, int lineShift,
                         qsizetype offsetShift) const;
    size_t partOf(size_t index) const;
    // The index of the first block whose offset `before` is false of; it is true of the offsets
    // of a prefix of the blocks.
    template<typename P> size_t partitionPoint(P before) const;

    std::shared_ptr<const Parts> m_parts;
    size_t m_size = 0;
};

template<typename F> void BlockLayout::forEach(F &&f) const
{
    if (!m_parts)
        return;
    for (const Part &part : *m_parts) {
        for (const Block &block : *part.chunk)
            f(Block {block.line + part.lineShift, block.offset + part.offsetShift, block.isList});
    }
}

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

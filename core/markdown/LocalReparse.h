#pragma once

#include "core/markdown/MarkdownDocument.h"
#include "core/model/SharedChunks.h"
#include "core/model/SharedEnds.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// Where the top-level blocks of a text start (lines end at LF only), and what tells whether an
// edit of the text may be re-parsed where it happened.
//
// The blocks are kept in shared chunks (SharedChunks), each with a line and an offset shift: a
// layout made from another by a local re-parse shares every chunk the edit did not touch.
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

    size_t size() const { return m_blocks.size(); }
    bool empty() const { return m_blocks.empty(); }
    Block operator[](size_t index) const { return m_blocks[index]; }
    template<typename F> void forEach(F &&f) const { m_blocks.forEach(std::forward<F>(f)); }
    // The index of the first block that starts at `offset` or later (lowerBound), or after it
    // (upperBound); size() when there is none.
    size_t lowerBound(qsizetype offset) const;
    size_t upperBound(qsizetype offset) const;

    static BlockLayout of(const MarkdownDocument &document);

private:
    friend struct LocalReparse;
    struct Shift
    {
        int lines = 0;
        qsizetype units = 0;
        bool operator==(const Shift &) const = default;
    };
    struct Traits
    {
        using Item = Block;
        using Shift = BlockLayout::Shift;
        using Chunk = std::vector<Block>;
        static Block shifted(const Block &block, const Shift &shift)
        {
            return {block.line + shift.lines, block.offset + shift.units, block.isList};
        }
        static Shift add(const Shift &a, const Shift &b)
        {
            return {a.lines + b.lines, a.units + b.units};
        }
        static std::shared_ptr<const Chunk> chunkOf(std::vector<Block> blocks)
        {
            return std::make_shared<const Chunk>(std::move(blocks));
        }
        static const std::vector<Block> &items(const Chunk &chunk) { return chunk; }
    };

    SharedChunks<Traits> m_blocks;
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

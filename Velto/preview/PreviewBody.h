#pragma once

#include "core/model/SharedChunks.h"

#include <QString>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class MarkdownDocument;
class TextAnalysis;

// The preview body as its top-level blocks, so an update can keep the blocks the page already
// shows (with their highlighted code, mathematics and diagrams) and send only the others.
//
// Blocks are matched by their HTML with every source line made relative to the block's first
// line: a paragraph that only moved down because a line was added above it matches, and the page
// shifts its line attributes instead of redrawing it.
struct PreviewBlock
{
    std::string html; // exactly what the body renderer writes for the block at `line`
    std::string key; // the HTML with line attributes relative to `line`
    int line = 0; // the first line attribute in the block; 0 when it has none
};

// One step of turning the shown blocks into new ones, in the new order: either a run of shown
// blocks kept (their lines shifted by `delta`) or one new block inserted.
struct PreviewPatchOp
{
    bool keep = false;
    int from = 0; // keep: first shown block
    int count = 0; // keep: number of consecutive shown blocks
    int delta = 0; // keep: added to every line attribute inside
    int block = 0; // insert: index into the new blocks
};

// A block where a revision has it. A block that only moved keeps the content it was rendered with:
// its HTML at the line it is on now is written only where it is sent to the page.
struct PlacedBlock
{
    std::shared_ptr<const PreviewBlock> content;
    int line = 0; // the first line attribute here; 0 when it has none
    int sourceLine = 0; // the line (0-based) its top-level block starts on
    bool rawHTML = false;
    // Raw HTML in it mentions line attributes itself, so its lines cannot be moved by rewriting
    // the attributes.
    bool fixedLines = false;

    // The content's HTML when the block is where it was rendered, else the HTML at `line`
    // written into `scratch`.
    std::string_view html(std::string &scratch) const;
    std::string html() const;
};

// The blocks of a body in order, kept in immutable chunks of a few hundred, each with a line shift
// for all its blocks. Lists made one from another share every chunk the change between them did
// not touch: replacing blocks, moving the lines after them, copying or releasing a list costs
// about the number of chunks plus the blocks replaced, not the number of blocks.
class PreviewBlockList
{
public:
    PreviewBlockList() = default;
    explicit PreviewBlockList(std::vector<PlacedBlock> blocks);

    size_t size() const { return m_blocks.size(); }
    bool empty() const { return m_blocks.empty(); }
    PlacedBlock operator[](size_t index) const { return m_blocks[index]; }
    template<typename F> void forEach(F &&f) const { m_blocks.forEach(std::forward<F>(f)); }

    // The HTML size of every block as its content was rendered (the digits of moved lines aside).
    size_t htmlSize() const;
    bool hasRawHTML() const;
    // The first block whose top-level block starts on `sourceLine` or later (the blocks are in
    // the order of their source lines).
    size_t firstFrom(int sourceLine) const;
    // Whether a block from `index` on has fixed lines (and lines at all).
    bool hasFixedLinesFrom(size_t index) const;
    // This list with the blocks [from, to) replaced by `blocks`, and the lines and source lines of
    // every block after them moved by `shift`.
    PreviewBlockList replaced(size_t from, size_t to, std::vector<PlacedBlock> blocks,
                              int shift) const;

private:
    friend std::vector<PreviewPatchOp> diffBlocks(const PreviewBlockList &,
                                                  const PreviewBlockList &);
    struct Chunk
    {
        std::vector<PlacedBlock> blocks; // lines as if the part's shift were 0
        size_t htmlSize = 0;
        int lined = 0; // blocks with a line attribute
        bool rawHTML = false;
        bool fixedLines = false; // a block has fixed lines and a line attribute
    };
    // The shift is added to the lines and source lines of a chunk's blocks.
    struct Traits
    {
        using Item = PlacedBlock;
        using Shift = int;
        using Chunk = PreviewBlockList::Chunk;
        static PlacedBlock shifted(const PlacedBlock &block, int shift)
        {
            PlacedBlock moved = block;
            moved.line += moved.line > 0 ? shift : 0;
            moved.sourceLine += shift;
            return moved;
        }
        static int add(int a, int b) { return a + b; }
        static std::shared_ptr<const Chunk> chunkOf(std::vector<PlacedBlock> blocks);
        static const std::vector<PlacedBlock> &items(const Chunk &chunk) { return chunk.blocks; }
    };
    using Blocks = SharedChunks<Traits>;
    using Part = Blocks::Part;
    class Reader;

    Blocks m_blocks;
};

struct PreviewBody
{
    // Shared with whatever else holds them: the analysis the body was made from, the record of
    // what the page shows. A long document's update then copies a pointer, not megabytes of HTML.
    PreviewBlockList blocks;
    // Raw HTML from the document can leave elements open that swallow later blocks, or carry text
    // that looks like a line attribute; such a body is only ever swapped whole.
    bool patchable = true;

    static PreviewBody render(const MarkdownDocument &document);
    QString html() const; // the whole body, identical to MarkdownParser::renderBody
};

// The first lines of a long text, to be parsed on their own and shown while the whole text is
// parsed. They are followed by every later line that could be part of a link reference
// definition, so their links resolve as in the whole text: the blocks starting on the first
// `lines` lines, all but the last (which may go on past them), render as in the whole text.
struct PreviewHead
{
    QString text;
    int lines = 0; // of the text's own lines in `text`; 0 when the text is too short for a head

    static PreviewHead of(QStringView markdown, qsizetype size);
};

// The preview body of a text revision, as a part of its analysis (analysis.derived(&of)). Where
// the revision was re-parsed locally and its base has this part, the blocks are the base's with
// the re-parsed lines' blocks put in their place and the line attributes after them moved: no
// block outside the edit is parsed or rendered again. Anything else is rendered from the whole
// parse. Either way the body is that of PreviewBody::render of a fresh parse.
struct PreviewBlocks
{
    // Shared with the revisions before and after wherever a block is unchanged.
    PreviewBlockList blocks;
    bool patchable = true;
    bool placed = true; // every block's source line is known
    bool spliced = false; // made from the base's blocks

    static PreviewBlocks of(const TextAnalysis &analysis);
    PreviewBody body() const { return {blocks, patchable}; }
};

// Renders bodies like PreviewBody::render, reusing the blocks of the previous render whose source
// lines are unchanged: typing changes one block, and rendering the others again is most of an
// update's cost in a long document. A block's HTML depends only on its own lines (from its first
// line up to the next block's) and on the document's link reference definitions, which may be
// anywhere: every line that could hold one is part of the context, and a changed context renders
// everything again. Only the previous render's blocks are kept. Safe to use from several threads.
class PreviewBlockCache
{
public:
    PreviewBody render(const MarkdownDocument &document);

private:
    struct Entry
    {
        std::shared_ptr<const PreviewBlock> block;
        int lineOffset = 0; // block.line minus the first line of the block's source
        bool rawHTML = false;
    };
    struct Hash
    {
        using is_transparent = void;
        size_t operator()(std::string_view text) const
        {
            return std::hash<std::string_view>()(text);
        }
    };
    using Entries = std::unordered_map<std::string, Entry, Hash, std::equal_to<>>;

    std::mutex m_mutex;
    std::string m_context;
    Entries m_entries;
};

// `shown`: the blocks the page shows. Blocks are matched by their keys; the same block (as the
// blocks of revisions made one from another mostly are) matches without comparing them.
std::vector<PreviewPatchOp> diffBlocks(const PreviewBlockList &shown,
                                       const PreviewBlockList &blocks);

#pragma once

#include <QString>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
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
    std::string html; // exactly what the body renderer writes for the block
    std::string key; // the HTML with line attributes relative to `line`
    int line = 0; // the first line attribute in the block; 0 when it has none
};

struct PreviewBody
{
    // Shared with whatever else holds them: the analysis the body was made from, the record of
    // what the page shows. A long document's update then copies pointers, not megabytes of HTML.
    std::vector<std::shared_ptr<const PreviewBlock>> blocks;
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
    std::vector<std::shared_ptr<const PreviewBlock>> blocks;
    bool patchable = true;
    std::vector<int> sourceLines; // per block: the line (0-based) its top-level block starts on
    std::vector<char> rawHTML; // per block
    // Per block: raw HTML in it mentions line attributes itself, so its lines cannot be moved by
    // rewriting the attributes.
    std::vector<char> fixedLines;
    bool placed = true; // every block's source line is known
    bool spliced = false; // made from the base's blocks

    static PreviewBlocks of(const TextAnalysis &analysis);
    PreviewBody body() const;
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

// `shown`: the blocks the page shows. Blocks are matched by their keys; the same block (as the
// blocks of revisions made one from another mostly are) matches without comparing them.
std::vector<PreviewPatchOp>
diffBlocks(const std::vector<std::shared_ptr<const PreviewBlock>> &shown,
           const std::vector<std::shared_ptr<const PreviewBlock>> &blocks);

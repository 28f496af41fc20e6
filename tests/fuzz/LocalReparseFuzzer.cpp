// A text and edits of it: each revision, made from the one before by re-parsing only around the
// edit where that can be trusted, must give what a fresh parse of its text gives (styles,
// outline, where the top-level blocks start, the preview's blocks).
//
// Input: two bytes for the length of the first text, the text, then edits of five bytes each
// (two for the place, one for how many units go, two for how many bytes of what follows come
// in) followed by the inserted bytes.
#include "FuzzInput.h"

#include "Velto/preview/PreviewBody.h"
#include "core/highlight/SyntaxHighlighter.h"
#include "core/markdown/OutlineParser.h"
#include "core/markdown/TextAnalysis.h"

#include <algorithm>
#include <memory>

namespace {

HighlightRuns runsOf(const TextAnalysis &analysis)
{
    return SyntaxHighlighter::highlight(analysis, &runsOf);
}

QList<OutlineItem> outlineOf(const TextAnalysis &analysis)
{
    return OutlineParser::parse(analysis, &outlineOf);
}

std::vector<PlacedBlock> placedBlocks(const PreviewBlockList &list)
{
    std::vector<PlacedBlock> blocks;
    list.forEach([&](const PlacedBlock &block) { blocks.push_back(block); });
    return blocks;
}

std::vector<BlockLayout::Block> blocksOf(const BlockLayout &layout)
{
    std::vector<BlockLayout::Block> blocks;
    layout.forEach([&](const BlockLayout::Block &block) { blocks.push_back(block); });
    return blocks;
}

void checkAgainstFresh(const TextAnalysis &analysis)
{
    const MarkdownDocument fresh(analysis.text());
    const HighlightRuns expected = SyntaxHighlighter::highlight(fresh);
    const HighlightRuns &runs = analysis.derived(&runsOf);
    fuzz::check(runs.lineCount() == expected.lineCount(), "styles have the text's lines");
    for (qsizetype line = 0; line < runs.lineCount(); ++line)
        fuzz::check(HighlightRuns::sameRuns(runs.line(line), expected.line(line)),
                    "styles are those of a fresh parse");

    const QList<OutlineItem> outline = OutlineParser::parse(fresh);
    const QList<OutlineItem> &spliced = analysis.derived(&outlineOf);
    fuzz::check(std::equal(outline.begin(), outline.end(), spliced.begin(), spliced.end(),
                           [](const OutlineItem &a, const OutlineItem &b) {
                               return a.level == b.level && a.line == b.line && a.title == b.title;
                           }),
                "the outline is that of a fresh parse");

    const BlockLayout layout = BlockLayout::of(fresh);
    const BlockLayout &made = analysis.layout();
    fuzz::check(made.lineCount == layout.lineCount && blocksOf(made) == blocksOf(layout),
                "blocks start where a fresh parse starts them");

    const PreviewBody body = PreviewBody::render(fresh);
    const PreviewBlocks &part = analysis.derived(&PreviewBlocks::of);
    const std::vector<PlacedBlock> partBlocks = placedBlocks(part.blocks);
    const std::vector<PlacedBlock> rendered = placedBlocks(body.blocks);
    fuzz::check(part.patchable == body.patchable
                    && std::equal(rendered.begin(), rendered.end(), partBlocks.begin(),
                                  partBlocks.end(),
                                  [](const PlacedBlock &a, const PlacedBlock &b) {
                                      return a.html() == b.html()
                                          && a.content->key == b.content->key && a.line == b.line;
                                  }),
                "the preview's blocks are those of a fresh render");
    const PreviewBlocks whole = PreviewBlocks::of(TextAnalysis(0, analysis.text()));
    const std::vector<PlacedBlock> placed = placedBlocks(whole.blocks);
    fuzz::check(part.placed == whole.placed
                    && std::equal(placed.begin(), placed.end(), partBlocks.begin(),
                                  partBlocks.end(),
                                  [](const PlacedBlock &a, const PlacedBlock &b) {
                                      return a.sourceLine == b.sourceLine && a.rawHTML == b.rawHTML
                                          && a.fixedLines == b.fixedLines;
                                  }),
                "the preview's blocks are placed as in a fresh render");
}

int twoBytes(fuzz::Reader &reader)
{
    return reader.byte() | (reader.byte() << 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Reader reader(data, size);
    const QByteArray first = reader.take(size_t(twoBytes(reader)));
    auto analysis = std::make_shared<const TextAnalysis>(1, QString::fromUtf8(first));
    analysis->derived(&runsOf);
    analysis->derived(&outlineOf);
    analysis->derived(&PreviewBlocks::of);
    for (int edits = 0; !reader.atEnd() && edits < 16; ++edits) {
        QString text = analysis->text();
        const qsizetype at = qsizetype(twoBytes(reader)) % (text.size() + 1);
        const qsizetype removed = std::min<qsizetype>(reader.byte(), text.size() - at);
        const QByteArray inserted = reader.take(size_t(twoBytes(reader) % 64));
        // Every other edit says where it changed the text, as the editor's do.
        const SharedEnds ends
            = edits % 2 == 0 ? SharedEnds {at, text.size() - at - removed} : SharedEnds {};
        text.replace(at, removed, QString::fromUtf8(inserted));
        if (text == analysis->text())
            continue;
        analysis->dropBase();
        auto next
            = std::make_shared<const TextAnalysis>(analysis->revision() + 1, text, analysis, ends);
        checkAgainstFresh(*next);
        analysis = next;
    }
    return 0;
}

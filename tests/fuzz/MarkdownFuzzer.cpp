// Any text as a Markdown document: every node's range must map back into the text, and the HTML
// and the outline must be built without a fault.
#include "FuzzInput.h"

#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/OutlineParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::text(data, size);
    const auto document = MarkdownDocument::parse(text);
    fuzz::check(document->isParseOf(text), "a parse stands for its text");
    // Depth first, without recursion: nesting is as deep as the input makes it.
    MarkdownNode node = document->root();
    while (node) {
        if (const auto range = document->textRange(node)) {
            fuzz::check(range->start >= 0 && range->start <= range->end
                            && range->end <= text.size(),
                        "node ranges lie inside the text");
        }
        if (MarkdownNode child = node.firstChild()) {
            node = child;
            continue;
        }
        while (node && !node.next())
            node = node.parent();
        if (node)
            node = node.next();
    }
    HTMLRenderer::render(document->root());
    OutlineParser::parse(*document);
    return 0;
}

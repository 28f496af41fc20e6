#include "Velto/preview/PreviewBody.h"

#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownWalker.h"

#include <charconv>
#include <string_view>
#include <unordered_map>

namespace {

constexpr std::string_view lineAttribute = " data-line=\"";

bool containsRawHTML(MarkdownNode block)
{
    MarkdownWalker walker(block);
    while (walker.next()) {
        if (!walker.entering())
            continue;
        const MarkdownNodeKind kind = walker.node().kind();
        if (kind == MarkdownNodeKind::HtmlBlock || kind == MarkdownNodeKind::HtmlInline)
            return true;
    }
    return false;
}

// Fills key and line from html: every line attribute's value becomes its distance from the first.
void makeKey(PreviewBlock &block)
{
    const std::string_view html = block.html;
    std::string &key = block.key;
    key.clear();
    key.reserve(html.size());
    bool first = true;
    size_t copied = 0;
    for (size_t at = html.find(lineAttribute); at != std::string_view::npos;
         at = html.find(lineAttribute, at)) {
        const size_t digits = at + lineAttribute.size();
        int value = 0;
        const auto [end, error]
            = std::from_chars(html.data() + digits, html.data() + html.size(), value);
        at = digits;
        if (error != std::errc())
            continue;
        if (first) {
            block.line = value;
            first = false;
        }
        key.append(html.substr(copied, digits - copied));
        key += std::to_string(value - block.line);
        copied = size_t(end - html.data());
    }
    key.append(html.substr(copied));
}

} // namespace

PreviewBody PreviewBody::render(const MarkdownDocument &document)
{
    PreviewBody body;
    for (MarkdownNode node = document.root().firstChild(); node; node = node.next()) {
        PreviewBlock block;
        HTMLRenderer::append(block.html, document, node);
        if (block.html.empty())
            continue; // nothing on the page to keep or replace
        if (body.patchable && containsRawHTML(node))
            body.patchable = false;
        makeKey(block);
        body.blocks.push_back(std::move(block));
    }
    return body;
}

QString PreviewBody::html() const
{
    size_t size = 0;
    for (const PreviewBlock &block : blocks)
        size += block.html.size();
    std::string out;
    out.reserve(size);
    for (const PreviewBlock &block : blocks)
        out += block.html;
    return QString::fromUtf8(out.data(), qsizetype(out.size()));
}

std::vector<PreviewPatchOp> diffBlocks(const std::vector<ShownBlock> &shown,
                                       const std::vector<PreviewBlock> &blocks)
{
    const int oldCount = int(shown.size());
    const int newCount = int(blocks.size());
    // Typing touches one place: the blocks before and after it are matched without hashing.
    int prefix = 0;
    while (prefix < oldCount && prefix < newCount && shown[prefix].key == blocks[prefix].key)
        ++prefix;
    int suffix = 0;
    while (suffix < oldCount - prefix && suffix < newCount - prefix
           && shown[oldCount - 1 - suffix].key == blocks[newCount - 1 - suffix].key)
        ++suffix;

    std::vector<PreviewPatchOp> ops;
    auto keep = [&](int from, int delta) {
        if (!ops.empty()) {
            PreviewPatchOp &last = ops.back();
            if (last.keep && last.from + last.count == from && last.delta == delta) {
                ++last.count;
                return;
            }
        }
        ops.push_back({true, from, 1, delta, 0});
    };
    for (int i = 0; i < prefix; ++i)
        keep(i, blocks[i].line - shown[i].line);

    // Blocks in between may have moved: each takes the first unused shown block of its key.
    std::unordered_map<std::string_view, std::vector<int>> unused;
    for (int i = oldCount - suffix - 1; i >= prefix; --i)
        unused[shown[i].key].push_back(i); // reversed, so back() is the first in order
    for (int j = prefix; j < newCount - suffix; ++j) {
        const auto found = unused.find(blocks[j].key);
        if (found == unused.end() || found->second.empty()) {
            ops.push_back({false, 0, 0, 0, j});
            continue;
        }
        const int from = found->second.back();
        found->second.pop_back();
        keep(from, blocks[j].line - shown[from].line);
    }
    for (int k = 0; k < suffix; ++k) {
        const int from = oldCount - suffix + k;
        keep(from, blocks[newCount - suffix + k].line - shown[from].line);
    }
    return ops;
}

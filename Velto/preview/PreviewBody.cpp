#include "Velto/preview/PreviewBody.h"

#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownWalker.h"
#include "core/markdown/SourceTextMap.h"
#include "core/markdown/TextAnalysis.h"

#include <algorithm>
#include <charconv>
#include <optional>
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

// Copies text to out with every line attribute's value v written as shift(v).
template<typename Shift>
void rewriteLineValues(std::string_view text, std::string &out, Shift shift)
{
    size_t copied = 0;
    for (size_t at = text.find(lineAttribute); at != std::string_view::npos;
         at = text.find(lineAttribute, at)) {
        const size_t digits = at + lineAttribute.size();
        int value = 0;
        const auto [end, error]
            = std::from_chars(text.data() + digits, text.data() + text.size(), value);
        at = digits;
        if (error != std::errc())
            continue;
        out.append(text.substr(copied, digits - copied));
        out += std::to_string(shift(value));
        copied = size_t(end - text.data());
    }
    out.append(text.substr(copied));
}

// Fills key and line from html: every line attribute's value becomes its distance from the first.
void makeKey(PreviewBlock &block)
{
    block.key.clear();
    block.key.reserve(block.html.size());
    bool first = true;
    rewriteLineValues(block.html, block.key, [&](int value) {
        if (first) {
            block.line = value;
            first = false;
        }
        return value - block.line;
    });
}

// The HTML of a block whose key was made from it at another first line.
std::string htmlAt(std::string_view key, int line)
{
    std::string html;
    html.reserve(key.size() + 16);
    rewriteLineValues(key, html, [line](int value) { return value + line; });
    return html;
}

// Whether raw HTML in the block has text the line attributes are found by: only the renderer's
// own attributes may then be rewritten for a block that moved.
bool mentionsLineAttributes(MarkdownNode block)
{
    MarkdownWalker walker(block);
    while (walker.next()) {
        if (!walker.entering())
            continue;
        const MarkdownNodeKind kind = walker.node().kind();
        if ((kind == MarkdownNodeKind::HtmlBlock || kind == MarkdownNodeKind::HtmlInline)
            && walker.node().literalUtf8().find("data-line") != std::string_view::npos)
            return true;
    }
    return false;
}

// Appends the blocks of `document`'s top-level blocks starting before line `lineLimit` (0-based,
// negative for all), their lines moved down by `lineShift`. False where a block can't be placed
// (all of them are when there is no limit).
bool appendRendered(PreviewBlocks &out, const MarkdownDocument &document, int lineShift,
                    int lineLimit)
{
    for (MarkdownNode node = document.root().firstChild(); node; node = node.next()) {
        const int start = node.startLine() - 1;
        if (start < 0) {
            if (lineLimit >= 0)
                return false;
            out.placed = false; // rendered, but never moved
        }
        if (lineLimit >= 0 && start >= lineLimit)
            break;
        PreviewBlock block;
        HTMLRenderer::append(block.html, document, node);
        if (block.html.empty())
            continue;
        const bool raw = containsRawHTML(node);
        const bool fixed = raw && mentionsLineAttributes(node);
        makeKey(block);
        if (lineShift != 0 && block.line > 0) {
            if (fixed)
                return false;
            block.line += lineShift;
            block.html = htmlAt(block.key, block.line);
        }
        out.blocks.push_back(std::make_shared<const PreviewBlock>(std::move(block)));
        out.sourceLines.push_back(start + lineShift);
        out.rawHTML.push_back(raw);
        out.fixedLines.push_back(fixed);
    }
    return true;
}

std::optional<PreviewBlocks> splice(const PreviewBlocks &earlier, const LocalReparse &local)
{
    if (!earlier.placed)
        return std::nullopt;
    const size_t count = earlier.blocks.size();
    const int oldEnd = local.firstLine + local.oldLineCount;
    PreviewBlocks out;
    out.blocks.reserve(count + 4);
    out.sourceLines.reserve(count + 4);
    out.rawHTML.reserve(count + 4);
    out.fixedLines.reserve(count + 4);
    size_t i = 0;
    auto keep = [&](size_t at, int delta) {
        const std::shared_ptr<const PreviewBlock> &block = earlier.blocks[at];
        if (delta != 0 && block->line > 0)
            out.blocks.push_back(std::make_shared<const PreviewBlock>(PreviewBlock {
                htmlAt(block->key, block->line + delta), block->key, block->line + delta}));
        else
            out.blocks.push_back(block);
        out.sourceLines.push_back(earlier.sourceLines[at] + delta);
        out.rawHTML.push_back(earlier.rawHTML[at]);
        out.fixedLines.push_back(earlier.fixedLines[at]);
    };
    for (; i < count && earlier.sourceLines[i] < local.firstLine; ++i)
        keep(i, 0);
    while (i < count && earlier.sourceLines[i] < oldEnd)
        ++i;
    if (!appendRendered(out, *local.window, local.firstLine, local.newLineCount))
        return std::nullopt;
    for (; i < count; ++i) {
        if (local.lineDelta != 0 && earlier.fixedLines[i] && earlier.blocks[i]->line > 0)
            return std::nullopt;
        keep(i, local.lineDelta);
    }
    out.patchable = std::find(out.rawHTML.begin(), out.rawHTML.end(), 1) == out.rawHTML.end();
    out.spliced = true;
    return out;
}

// Every line that could be part of a link reference definition, in order: "]:" ends a label,
// which may start up to 999 characters before over several lines, and the destination and title
// may follow on the next two lines.
std::string referenceContext(std::string_view text)
{
    std::string context;
    size_t covered = 0;
    for (size_t at = text.find("]:"); at != std::string_view::npos; at = text.find("]:", at + 2)) {
        size_t start = std::max(covered, at > 1000 ? at - 1000 : 0);
        if (start > covered) {
            const size_t lineStart = text.rfind('\n', start);
            start = lineStart == std::string_view::npos ? 0 : std::max(covered, lineStart + 1);
        }
        size_t end = at;
        for (int k = 0; k < 3 && end < text.size(); ++k) {
            end = text.find('\n', end);
            end = end == std::string_view::npos ? text.size() : end + 1;
        }
        context.append(text.substr(start, end - start));
        covered = end;
    }
    return context;
}

} // namespace

PreviewHead PreviewHead::of(QStringView markdown, qsizetype size)
{
    PreviewHead head;
    if (markdown.size() <= size)
        return head;
    const qsizetype cut = markdown.left(size).lastIndexOf(u'\n') + 1;
    if (cut <= 0)
        return head;
    head.text = markdown.left(cut).toString();
    head.lines = int(head.text.count(u'\n'));
    // Every later line that could define a link reference, so the head's links resolve as in the
    // whole text.
    const QByteArray rest = markdown.mid(cut).toUtf8();
    const std::string context
        = referenceContext(std::string_view(rest.constData(), size_t(rest.size())));
    head.text += QString::fromUtf8(context.data(), qsizetype(context.size()));
    if (!head.text.endsWith(u'\n'))
        head.text += u'\n';
    return head;
}

PreviewBody PreviewBlockCache::render(const MarkdownDocument &document)
{
    const std::string_view text(document.utf8().constData(), size_t(document.utf8().size()));
    const SourceTextMap &lines = document.sourceLines();
    std::string context = referenceContext(text);

    std::lock_guard lock(m_mutex);
    if (context != m_context) {
        m_entries.clear();
        m_context = std::move(context);
    }
    Entries next;
    next.reserve(m_entries.size() + 16);
    PreviewBody body;
    body.blocks.reserve(m_entries.size() + 16);
    MarkdownNode node = document.root().firstChild();
    int start = node ? document.startLine(node) : 0;
    while (node) {
        const MarkdownNode following = node.next();
        const int followingStart = following ? document.startLine(following) : 0;
        // The block's source: its first line up to the next block's (or the end).
        std::string_view source;
        const bool known = start > 0 && start <= lines.lineCount()
            && (!following || (followingStart > start && followingStart <= lines.lineCount()));
        if (known) {
            const size_t from = size_t(lines.lineStart(start));
            const size_t to = following ? size_t(lines.lineStart(followingStart)) : text.size();
            source = text.substr(from, to - from);
        }
        // Entries move from the previous render's map to this one's: no copies of their source.
        const Entry *cached = nullptr;
        if (known) {
            if (auto it = m_entries.find(source); it != m_entries.end()) {
                auto moved = next.insert(m_entries.extract(it));
                cached = &moved.position->second;
            } else if (auto again = next.find(source); again != next.end()) {
                cached = &again->second; // the same source once more
            }
        }
        if (cached) {
            const PreviewBlock &block = *cached->block;
            const int line = block.line > 0 ? start + cached->lineOffset : 0;
            if (line == block.line) {
                if (!block.html.empty())
                    body.blocks.push_back(cached->block);
            } else if (!cached->rawHTML) {
                body.blocks.push_back(std::make_shared<const PreviewBlock>(
                    PreviewBlock {htmlAt(block.key, line), block.key, line}));
            } else {
                cached = nullptr; // raw HTML may hold line attributes of its own: rendered again
            }
            if (cached && cached->rawHTML)
                body.patchable = false;
        }
        if (!cached) {
            Entry entry;
            PreviewBlock block;
            HTMLRenderer::append(block.html, document, node);
            if (!block.html.empty()) {
                entry.rawHTML = containsRawHTML(node);
                makeKey(block);
                entry.lineOffset = block.line - start;
                if (entry.rawHTML)
                    body.patchable = false;
            }
            entry.block = std::make_shared<const PreviewBlock>(std::move(block));
            if (!entry.block->html.empty())
                body.blocks.push_back(entry.block);
            if (known)
                next.insert_or_assign(std::string(source), std::move(entry));
        }
        node = following;
        start = followingStart;
    }
    m_entries = std::move(next);
    return body;
}

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
        body.blocks.push_back(std::make_shared<const PreviewBlock>(std::move(block)));
    }
    return body;
}

PreviewBlocks PreviewBlocks::of(const TextAnalysis &analysis)
{
    if (const LocalReparse *local = analysis.localReparse()) {
        if (const std::shared_ptr<const TextAnalysis> base = analysis.base()) {
            if (const std::shared_ptr<const PreviewBlocks> earlier = base->made(&of)) {
                if (std::optional<PreviewBlocks> blocks = splice(*earlier, *local))
                    return std::move(*blocks);
            }
        }
    }
    PreviewBlocks blocks;
    appendRendered(blocks, analysis.document(), 0, -1);
    blocks.patchable
        = std::find(blocks.rawHTML.begin(), blocks.rawHTML.end(), 1) == blocks.rawHTML.end();
    return blocks;
}

PreviewBody PreviewBlocks::body() const
{
    PreviewBody body;
    body.patchable = patchable;
    body.blocks = blocks;
    return body;
}

QString PreviewBody::html() const
{
    size_t size = 0;
    for (const std::shared_ptr<const PreviewBlock> &block : blocks)
        size += block->html.size();
    std::string out;
    out.reserve(size);
    for (const std::shared_ptr<const PreviewBlock> &block : blocks)
        out += block->html;
    return QString::fromUtf8(out.data(), qsizetype(out.size()));
}

std::vector<PreviewPatchOp>
diffBlocks(const std::vector<std::shared_ptr<const PreviewBlock>> &shown,
           const std::vector<std::shared_ptr<const PreviewBlock>> &blocks)
{
    const int oldCount = int(shown.size());
    const int newCount = int(blocks.size());
    auto same = [&](int from, int to) {
        return shown[size_t(from)] == blocks[size_t(to)]
            || shown[size_t(from)]->key == blocks[size_t(to)]->key;
    };
    // Typing touches one place: the blocks before and after it are matched without hashing.
    int prefix = 0;
    while (prefix < oldCount && prefix < newCount && same(prefix, prefix))
        ++prefix;
    int suffix = 0;
    while (suffix < oldCount - prefix && suffix < newCount - prefix
           && same(oldCount - 1 - suffix, newCount - 1 - suffix))
        ++suffix;

    std::vector<PreviewPatchOp> ops;
    auto keep = [&](int from, int to) {
        const int delta = blocks[size_t(to)]->line - shown[size_t(from)]->line;
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
        keep(i, i);

    // Blocks in between may have moved: each takes the first unused shown block of its key.
    std::unordered_map<std::string_view, std::vector<int>> unused;
    for (int i = oldCount - suffix - 1; i >= prefix; --i)
        unused[shown[size_t(i)]->key].push_back(i); // reversed, so back() is the first in order
    for (int j = prefix; j < newCount - suffix; ++j) {
        const auto found = unused.find(blocks[size_t(j)]->key);
        if (found == unused.end() || found->second.empty()) {
            ops.push_back({false, 0, 0, 0, j});
            continue;
        }
        const int from = found->second.back();
        found->second.pop_back();
        keep(from, j);
    }
    for (int k = 0; k < suffix; ++k)
        keep(oldCount - suffix + k, newCount - suffix + k);
    return ops;
}

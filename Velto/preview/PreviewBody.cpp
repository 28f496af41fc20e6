#include "Velto/preview/PreviewBody.h"

#include "core/markdown/HTMLRenderer.h"
#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownWalker.h"
#include "core/markdown/SourceTextMap.h"
#include "core/markdown/TextAnalysis.h"

#include <algorithm>
#include <charconv>
#include <iterator>
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
// (with no limit, `placed` is cleared instead and the block is rendered, but never moved).
bool appendRendered(std::vector<PlacedBlock> &out, const MarkdownDocument &document, int lineShift,
                    int lineLimit, bool *placed = nullptr)
{
    for (MarkdownNode node = document.root().firstChild(); node; node = node.next()) {
        const int start = node.startLine() - 1;
        if (start < 0) {
            if (lineLimit >= 0)
                return false;
            if (placed)
                *placed = false;
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
        const int line = block.line;
        out.push_back({std::make_shared<const PreviewBlock>(std::move(block)), line,
                       start + lineShift, raw, fixed});
    }
    return true;
}

std::optional<PreviewBlocks> splice(const PreviewBlocks &earlier, const LocalReparse &local)
{
    if (!earlier.placed)
        return std::nullopt;
    const PreviewBlockList &blocks = earlier.blocks;
    const size_t from = blocks.firstFrom(local.firstLine);
    const size_t to = std::max(from, blocks.firstFrom(local.firstLine + local.oldLineCount));
    if (local.lineDelta != 0 && blocks.hasFixedLinesFrom(to))
        return std::nullopt;
    std::vector<PlacedBlock> window;
    if (!appendRendered(window, *local.window, local.firstLine, local.newLineCount))
        return std::nullopt;
    PreviewBlocks out;
    out.blocks = blocks.replaced(from, to, std::move(window), local.lineDelta);
    out.patchable = !out.blocks.hasRawHTML();
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
    std::vector<PlacedBlock> blocks;
    blocks.reserve(m_entries.size() + 16);
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
            if (line == block.line || !cached->rawHTML) {
                if (!block.html.empty())
                    blocks.push_back({cached->block, line, start - 1, cached->rawHTML});
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
                blocks.push_back({entry.block, entry.block->line, start - 1, entry.rawHTML});
            if (known)
                next.insert_or_assign(std::string(source), std::move(entry));
        }
        node = following;
        start = followingStart;
    }
    m_entries = std::move(next);
    body.blocks = PreviewBlockList(std::move(blocks));
    return body;
}

PreviewBody PreviewBody::render(const MarkdownDocument &document)
{
    PreviewBody body;
    std::vector<PlacedBlock> blocks;
    for (MarkdownNode node = document.root().firstChild(); node; node = node.next()) {
        PreviewBlock block;
        HTMLRenderer::append(block.html, document, node);
        if (block.html.empty())
            continue; // nothing on the page to keep or replace
        const bool raw = containsRawHTML(node);
        if (raw)
            body.patchable = false;
        makeKey(block);
        const int line = block.line;
        blocks.push_back({std::make_shared<const PreviewBlock>(std::move(block)), line,
                          node.startLine() - 1, raw});
    }
    body.blocks = PreviewBlockList(std::move(blocks));
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
    PreviewBlocks out;
    std::vector<PlacedBlock> blocks;
    appendRendered(blocks, analysis.document(), 0, -1, &out.placed);
    out.blocks = PreviewBlockList(std::move(blocks));
    out.patchable = !out.blocks.hasRawHTML();
    return out;
}

QString PreviewBody::html() const
{
    std::string out;
    out.reserve(blocks.htmlSize() + blocks.size());
    std::string scratch;
    blocks.forEach([&](const PlacedBlock &block) { out += block.html(scratch); });
    return QString::fromUtf8(out.data(), qsizetype(out.size()));
}

std::string_view PlacedBlock::html(std::string &scratch) const
{
    if (line == content->line)
        return content->html;
    scratch.clear();
    rewriteLineValues(content->key, scratch, [this](int value) { return value + line; });
    return scratch;
}

std::string PlacedBlock::html() const
{
    std::string scratch;
    return std::string(html(scratch));
}

PreviewBlockList::PreviewBlockList(std::vector<PlacedBlock> blocks)
    : m_blocks(Blocks().replaced(0, 0, std::move(blocks), 0))
{
}

std::shared_ptr<const PreviewBlockList::Chunk>
PreviewBlockList::Traits::chunkOf(std::vector<PlacedBlock> blocks)
{
    auto chunk = std::make_shared<Chunk>();
    for (const PlacedBlock &block : blocks) {
        chunk->htmlSize += block.content->html.size();
        chunk->lined += block.line > 0;
        chunk->rawHTML = chunk->rawHTML || block.rawHTML;
        chunk->fixedLines = chunk->fixedLines || (block.fixedLines && block.line > 0);
    }
    chunk->blocks = std::move(blocks);
    return chunk;
}

size_t PreviewBlockList::htmlSize() const
{
    size_t size = 0;
    for (const Part &part : m_blocks.parts())
        size += part.chunk->htmlSize;
    return size;
}

bool PreviewBlockList::hasRawHTML() const
{
    const Blocks::Parts &parts = m_blocks.parts();
    return std::any_of(parts.begin(), parts.end(),
                       [](const Part &part) { return part.chunk->rawHTML; });
}

size_t PreviewBlockList::firstFrom(int sourceLine) const
{
    return m_blocks.partitionPoint([sourceLine](const PlacedBlock &block, int shift) {
        return block.sourceLine + shift < sourceLine;
    });
}

bool PreviewBlockList::hasFixedLinesFrom(size_t index) const
{
    if (index >= size())
        return false;
    const Blocks::Parts &parts = m_blocks.parts();
    const size_t at = m_blocks.partOf(index);
    const std::vector<PlacedBlock> &first = parts[at].chunk->blocks;
    if (std::any_of(first.begin() + ptrdiff_t(index - parts[at].first), first.end(),
                    [](const PlacedBlock &block) { return block.fixedLines && block.line > 0; }))
        return true;
    return std::any_of(parts.begin() + ptrdiff_t(at) + 1, parts.end(),
                       [](const Part &part) { return part.chunk->fixedLines; });
}

PreviewBlockList PreviewBlockList::replaced(size_t from, size_t to, std::vector<PlacedBlock> blocks,
                                            int shift) const
{
    PreviewBlockList list;
    list.m_blocks = m_blocks.replaced(from, to, std::move(blocks), shift);
    return list;
}

// Reads a list's blocks by index; reading the blocks next to the last one read costs no search.
class PreviewBlockList::Reader
{
public:
    explicit Reader(const PreviewBlockList &list)
        : m_list(list)
    {
    }

    const Part &part(size_t index)
    {
        const Blocks::Parts &parts = m_list.m_blocks.parts();
        auto holds = [&](size_t at) {
            return at < parts.size() && index >= parts[at].first
                && index - parts[at].first < parts[at].chunk->blocks.size();
        };
        if (!holds(m_part)) {
            if (holds(m_part + 1))
                ++m_part;
            else if (m_part > 0 && holds(m_part - 1))
                --m_part;
            else
                m_part = m_list.m_blocks.partOf(index);
        }
        return parts[m_part];
    }
    const PreviewBlock &content(size_t index)
    {
        const Part &at = part(index);
        return *at.chunk->blocks[index - at.first].content;
    }
    int line(size_t index)
    {
        const Part &at = part(index);
        const int line = at.chunk->blocks[index - at.first].line;
        return line > 0 ? line + at.shift : 0;
    }

private:
    const PreviewBlockList &m_list;
    size_t m_part = 0;
};

std::vector<PreviewPatchOp> diffBlocks(const PreviewBlockList &shown,
                                       const PreviewBlockList &blocks)
{
    using Part = PreviewBlockList::Part;
    const int oldCount = int(shown.size());
    const int newCount = int(blocks.size());
    PreviewBlockList::Reader was(shown);
    PreviewBlockList::Reader now(blocks);
    auto same = [&](int from, int to) {
        const PreviewBlock &a = was.content(size_t(from));
        const PreviewBlock &b = now.content(size_t(to));
        return &a == &b || a.key == b.key;
    };
    // A chunk both lists hold, starting at `from` and `to` (or ending there, `before`): all its
    // blocks match, and only their shift can differ.
    auto sharedChunk = [&](int from, int to, bool before) -> std::pair<const Part *, const Part *> {
        if (before ? from == 0 || to == 0 : from == oldCount || to == newCount)
            return {};
        const Part &a = was.part(size_t(before ? from - 1 : from));
        const Part &b = now.part(size_t(before ? to - 1 : to));
        const size_t size = a.chunk->blocks.size();
        const bool aligned = before ? a.first + size == size_t(from) && b.first + size == size_t(to)
                                    : a.first == size_t(from) && b.first == size_t(to);
        if (a.chunk != b.chunk || !aligned)
            return {};
        return {&a, &b};
    };

    // Typing touches one place: the blocks before and after it are matched without hashing, and
    // the chunks the lists share there without looking at their blocks.
    int prefix = 0;
    while (prefix < oldCount && prefix < newCount) {
        if (const auto [a, b] = sharedChunk(prefix, prefix, false); a) {
            prefix += int(a->chunk->blocks.size());
            continue;
        }
        if (!same(prefix, prefix))
            break;
        ++prefix;
    }
    int suffix = 0;
    while (suffix < oldCount - prefix && suffix < newCount - prefix) {
        const int left = std::min(oldCount, newCount) - prefix - suffix;
        if (const auto [a, b] = sharedChunk(oldCount - suffix, newCount - suffix, true);
            a && int(a->chunk->blocks.size()) <= left) {
            suffix += int(a->chunk->blocks.size());
            continue;
        }
        if (!same(oldCount - 1 - suffix, newCount - 1 - suffix))
            break;
        ++suffix;
    }

    std::vector<PreviewPatchOp> ops;
    auto keepRun = [&](int from, int count, int delta) {
        if (!ops.empty()) {
            PreviewPatchOp &last = ops.back();
            if (last.keep && last.from + last.count == from && last.delta == delta) {
                last.count += count;
                return;
            }
        }
        ops.push_back({true, from, count, delta, 0});
    };
    auto keep = [&](int from, int to) {
        keepRun(from, 1, now.line(size_t(to)) - was.line(size_t(from)));
    };
    // Keeps `count` matching blocks from `from` and `to` on, a shared chunk at a time where they
    // lie in one.
    auto keepMatching = [&](int from, int to, int count) {
        for (int k = 0; k < count;) {
            const auto [a, b] = sharedChunk(from + k, to + k, false);
            const int size = a ? int(a->chunk->blocks.size()) : 0;
            if (!a || k + size > count) {
                keep(from + k, to + k);
                ++k;
                continue;
            }
            const int delta = b->shift - a->shift;
            if (delta == 0 || a->chunk->lined == size) {
                keepRun(from + k, size, delta);
            } else {
                // Blocks without a line attribute keep theirs at 0.
                for (int i = 0; i < size; ++i)
                    keepRun(from + k + i, 1, a->chunk->blocks[size_t(i)].line > 0 ? delta : 0);
            }
            k += size;
        }
    };
    keepMatching(0, 0, prefix);

    // Blocks in between may have moved: each takes the first unused shown block of its key.
    std::unordered_map<std::string_view, std::vector<int>> unused;
    for (int i = oldCount - suffix - 1; i >= prefix; --i)
        unused[was.content(size_t(i)).key].push_back(i); // reversed: back() is the first
    for (int j = prefix; j < newCount - suffix; ++j) {
        const auto found = unused.find(now.content(size_t(j)).key);
        if (found == unused.end() || found->second.empty()) {
            ops.push_back({false, 0, 0, 0, j});
            continue;
        }
        const int from = found->second.back();
        found->second.pop_back();
        keep(from, j);
    }
    keepMatching(oldCount - suffix, newCount - suffix, suffix);
    return ops;
}

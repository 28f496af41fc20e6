#include "core/markdown/LocalReparse.h"

#include <algorithm>
#include <cstring>

namespace {

using Block = BlockLayout::Block;

// Blocks of this many units are compared with memcmp before the exact place is looked for.
constexpr qsizetype chunk = 1024;

qsizetype commonPrefix(const QChar *a, const QChar *b, qsizetype n)
{
    qsizetype i = 0;
    while (i + chunk <= n && std::memcmp(a + i, b + i, size_t(chunk) * sizeof(QChar)) == 0)
        i += chunk;
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// Units equal at the ends of a[0, an) and b[0, bn), at most n.
qsizetype commonSuffix(const QChar *a, qsizetype an, const QChar *b, qsizetype bn, qsizetype n)
{
    qsizetype i = 0;
    while (i + chunk <= n
           && std::memcmp(a + an - i - chunk, b + bn - i - chunk, size_t(chunk) * sizeof(QChar))
               == 0)
        i += chunk;
    while (i < n && a[an - i - 1] == b[bn - i - 1])
        ++i;
    return i;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Whether the parser starts a line at `offset` with nothing open that the line could continue,
// given that a top-level block starts there: the line before is blank and this one starts at its
// first column (no indentation to continue a list item or indented code). A byte order mark
// counts only at the start of the text.
bool startsClean(const QString &text, qsizetype offset)
{
    if (offset == 0)
        return true;
    if (offset >= text.size())
        return false;
    const QChar first = text.at(offset);
    if (isBlank(first) || first == u'\n' || first == u'\r' || first == QChar(0xFEFF))
        return false;
    for (qsizetype i = offset - 2; i >= 0 && text.at(i) != u'\n'; --i) {
        if (!isBlank(text.at(i)))
            return false;
    }
    return true;
}

int lineFeeds(QStringView text)
{
    return int(text.count(u'\n'));
}

bool mayChangeDefinitions(QStringView text, bool definitionsElsewhere)
{
    if (text.contains(u"]:"))
        return true;
    return definitionsElsewhere && text.contains(u'[');
}

// How many blocks are tried for a start or an end before the whole text is parsed.
constexpr size_t searchLimit = 64;

// The most blocks a layout keeps in one chunk.
constexpr size_t chunkSize = 256;

} // namespace

size_t BlockLayout::partOf(size_t index) const
{
    const Parts &parts = *m_parts;
    const auto after = std::upper_bound(parts.begin(), parts.end(), index,
                                        [](size_t i, const Part &part) { return i < part.first; });
    return size_t(after - parts.begin()) - 1;
}

BlockLayout::Block BlockLayout::operator[](size_t index) const
{
    const Part &part = (*m_parts)[partOf(index)];
    const Block &block = (*part.chunk)[index - part.first];
    return {block.line + part.lineShift, block.offset + part.offsetShift, block.isList};
}

template<typename P> size_t BlockLayout::partitionPoint(P before) const
{
    if (!m_parts)
        return 0;
    const Parts &parts = *m_parts;
    // The first chunk whose last block is not before holds it.
    const auto part = std::partition_point(parts.begin(), parts.end(), [&](const Part &p) {
        const Block &last = p.chunk->back();
        return before(last.offset + p.offsetShift);
    });
    if (part == parts.end())
        return m_size;
    const std::vector<Block> &blocks = *part->chunk;
    const auto block = std::partition_point(blocks.begin(), blocks.end(), [&](const Block &b) {
        return before(b.offset + part->offsetShift);
    });
    return part->first + size_t(block - blocks.begin());
}

size_t BlockLayout::lowerBound(qsizetype offset) const
{
    return partitionPoint([offset](qsizetype at) { return at < offset; });
}

size_t BlockLayout::upperBound(qsizetype offset) const
{
    return partitionPoint([offset](qsizetype at) { return at <= offset; });
}

BlockLayout BlockLayout::replaced(size_t from, size_t to, std::vector<Block> blocks, int lineShift,
                                  qsizetype offsetShift) const
{
    static const Parts none;
    const Parts &parts = m_parts ? *m_parts : none;
    // The chunks holding [from, to), or the last one when blocks are added at the end, are made
    // again with their blocks where they are now; every other chunk is shared.
    size_t begin = 0;
    size_t end = 0;
    if (!parts.empty()) {
        begin = partOf(std::min(from, m_size - 1));
        end = (to > from ? partOf(to - 1) : begin) + 1;
    }
    std::vector<Block> middle;
    auto take = [&middle](const Part &part, size_t first, size_t last, int lines, qsizetype units) {
        for (size_t i = first; i < last; ++i) {
            const Block &block = (*part.chunk)[i];
            middle.push_back({block.line + part.lineShift + lines,
                              block.offset + part.offsetShift + units, block.isList});
        }
    };
    if (begin < end) {
        middle.reserve(blocks.size() + 2 * chunkSize);
        const Part &firstPart = parts[begin];
        const Part &lastPart = parts[end - 1];
        take(firstPart, 0, from - firstPart.first, 0, 0);
        middle.insert(middle.end(), blocks.begin(), blocks.end());
        take(lastPart, to - lastPart.first, lastPart.chunk->size(), lineShift, offsetShift);
    } else {
        middle = std::move(blocks);
    }
    // Chunks stay between half full and full: a short rest takes its neighbours in.
    if (middle.size() < chunkSize / 2 && end < parts.size()) {
        take(parts[end], 0, parts[end].chunk->size(), lineShift, offsetShift);
        ++end;
    }
    if (middle.size() < chunkSize / 2 && begin > 0) {
        std::vector<Block> rest = std::move(middle);
        middle.clear();
        --begin;
        take(parts[begin], 0, parts[begin].chunk->size(), 0, 0);
        middle.insert(middle.end(), rest.begin(), rest.end());
    }

    auto out = std::make_shared<Parts>();
    out->reserve(parts.size() + middle.size() / chunkSize + 1);
    size_t first = 0;
    for (size_t p = 0; p < begin; ++p) {
        out->push_back(parts[p]);
        first += parts[p].chunk->size();
    }
    const size_t pieces = (middle.size() + chunkSize - 1) / chunkSize;
    for (size_t k = 0; k < pieces; ++k) {
        const size_t a = middle.size() * k / pieces;
        const size_t b = middle.size() * (k + 1) / pieces;
        out->push_back({std::make_shared<const std::vector<Block>>(middle.begin() + ptrdiff_t(a),
                                                                   middle.begin() + ptrdiff_t(b)),
                        0, 0, first});
        first += b - a;
    }
    for (size_t p = end; p < parts.size(); ++p) {
        const Part &part = parts[p];
        out->push_back(
            {part.chunk, part.lineShift + lineShift, part.offsetShift + offsetShift, first});
        first += part.chunk->size();
    }
    BlockLayout layout;
    layout.lineCount = lineCount;
    layout.hasCarriageReturn = hasCarriageReturn;
    layout.hasDefinitionMarker = hasDefinitionMarker;
    layout.m_parts = std::move(out);
    layout.m_size = first;
    return layout;
}

BlockLayout BlockLayout::of(const MarkdownDocument &document)
{
    BlockLayout layout;
    const QString &text = document.text();
    layout.lineCount = lineFeeds(text) + 1;
    layout.hasCarriageReturn = text.contains(u'\r');
    layout.hasDefinitionMarker = text.contains(u"]:");
    std::vector<Block> blocks;
    for (MarkdownNode child = document.root().firstChild(); child; child = child.next()) {
        const int line = child.startLine();
        if (line < 1)
            continue;
        const auto offset = document.textOffset({line, 1});
        if (offset)
            blocks.push_back({line - 1, *offset, child.kind() == MarkdownNodeKind::List});
    }
    return layout.replaced(0, 0, std::move(blocks), 0, 0);
}

std::optional<LocalReparse> LocalReparse::find(const BlockLayout &earlier,
                                               const QString &earlierText, const QString &text,
                                               SharedEnds known)
{
    if (earlier.hasCarriageReturn)
        return std::nullopt;
    const qsizetype common = std::min(earlierText.size(), text.size());
    const qsizetype knownPrefix = std::clamp<qsizetype>(known.prefix, 0, common);
    qsizetype prefix = knownPrefix
        + commonPrefix(earlierText.constData() + knownPrefix, text.constData() + knownPrefix,
                       common - knownPrefix);
    // The same text again (typed and taken back since the base): any window re-parses it
    // correctly, and the first block's is the cheapest to find.
    if (prefix == earlierText.size() && prefix == text.size())
        prefix = 0;
    const qsizetype knownSuffix = std::clamp<qsizetype>(known.suffix, 0, common - prefix);
    const qsizetype suffix = knownSuffix
        + commonSuffix(earlierText.constData(), earlierText.size() - knownSuffix, text.constData(),
                       text.size() - knownSuffix, common - prefix - knownSuffix);
    const qsizetype oldEditEnd = earlierText.size() - suffix;
    const qsizetype newEditEnd = text.size() - suffix;

    LocalReparse local;
    // The start: a clean block on a line before the edit's (that line is the same in both).
    const qsizetype editLine = prefix > 0 ? earlierText.lastIndexOf(u'\n', prefix - 1) + 1 : 0;
    for (size_t below = earlier.lowerBound(editLine), tried = 0; below > 0 && tried < searchLimit;
         ++tried) {
        const Block block = earlier[--below];
        if (startsClean(earlierText, block.offset) && (below == 0 || !earlier[below - 1].isList)) {
            local.firstLine = block.line;
            local.offset = block.offset;
            break;
        }
    }

    local.offsetDelta = text.size() - earlierText.size();
    local.lineDelta = lineFeeds(QStringView(text).sliced(prefix, newEditEnd - prefix))
        - lineFeeds(QStringView(earlierText).sliced(prefix, oldEditEnd - prefix));

    // The end: a clean block after the line that follows the edit's last line, so that it and
    // the blank line before it are the same in both texts.
    std::optional<Block> end;
    if (const qsizetype lastLineEnd = earlierText.indexOf(u'\n', oldEditEnd); lastLineEnd >= 0) {
        for (size_t above = earlier.upperBound(lastLineEnd + 1), tried = 0;
             above < earlier.size() && tried < searchLimit; ++above, ++tried) {
            const Block block = earlier[above];
            if (startsClean(earlierText, block.offset)
                && (above == 0 || !earlier[above - 1].isList)) {
                end = block;
                break;
            }
        }
    }

    const bool definitionsElsewhere = earlier.hasDefinitionMarker;
    auto toEnd = [&]() -> std::optional<LocalReparse> {
        const QStringView rest = QStringView(text).sliced(local.offset);
        if (rest.contains(u'\r') || mayChangeDefinitions(rest, definitionsElsewhere)
            || mayChangeDefinitions(QStringView(earlierText).sliced(local.offset), false))
            return std::nullopt;
        local.oldEnd = earlierText.size();
        local.oldLineCount = earlier.lineCount - local.firstLine;
        local.newLineCount = local.oldLineCount + local.lineDelta;
        local.window = MarkdownDocument::parse(rest.toString());
        return local;
    };
    if (!end)
        return toEnd();

    const qsizetype newEnd = end->offset + local.offsetDelta;
    const qsizetype endLineEnd = text.indexOf(u'\n', newEnd);
    const QStringView window = QStringView(text).sliced(
        local.offset, (endLineEnd < 0 ? text.size() : endLineEnd + 1) - local.offset);
    if (window.contains(u'\r') || mayChangeDefinitions(window, definitionsElsewhere)
        || mayChangeDefinitions(
            QStringView(earlierText).sliced(local.offset, end->offset - local.offset), false))
        return std::nullopt;
    local.oldEnd = end->offset;
    local.oldLineCount = end->line - local.firstLine;
    local.newLineCount = local.oldLineCount + local.lineDelta;
    local.window = MarkdownDocument::parse(window.toString());
    // The edit may have opened something (a fence, a list) that goes on over the block.
    for (MarkdownNode child = local.window->root().lastChild(); child; child = child.previous()) {
        const int line = child.startLine() - 1;
        if (line == local.newLineCount) {
            const MarkdownNode before = child.previous();
            if (before && before.kind() == MarkdownNodeKind::List)
                break;
            return local;
        }
        if (line < local.newLineCount)
            break;
    }
    return toEnd();
}

BlockLayout LocalReparse::splice(const BlockLayout &earlier) const
{
    std::vector<Block> blocks;
    for (MarkdownNode child = window->root().firstChild(); child; child = child.next()) {
        const int line = child.startLine();
        if (line < 1)
            continue;
        if (line - 1 >= newLineCount)
            break;
        if (const auto at = window->textOffset({line, 1}))
            blocks.push_back(
                {firstLine + line - 1, offset + *at, child.kind() == MarkdownNodeKind::List});
    }
    const size_t before = earlier.lowerBound(offset);
    const size_t after = std::max(before, earlier.lowerBound(oldEnd));
    BlockLayout layout = earlier.replaced(before, after, std::move(blocks), lineDelta, offsetDelta);
    layout.lineCount = earlier.lineCount + lineDelta;
    return layout;
}

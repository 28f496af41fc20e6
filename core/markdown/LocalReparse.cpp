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

} // namespace

size_t BlockLayout::lowerBound(qsizetype offset) const
{
    return m_blocks.partitionPoint([offset](const Block &block, const Shift &shift) {
        return block.offset + shift.units < offset;
    });
}

size_t BlockLayout::upperBound(qsizetype offset) const
{
    return m_blocks.partitionPoint([offset](const Block &block, const Shift &shift) {
        return block.offset + shift.units <= offset;
    });
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
    layout.m_blocks = layout.m_blocks.replaced(0, 0, std::move(blocks), {});
    return layout;
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
    BlockLayout layout = earlier;
    layout.m_blocks
        = earlier.m_blocks.replaced(before, after, std::move(blocks), {lineDelta, offsetDelta});
    layout.lineCount = earlier.lineCount + lineDelta;
    return layout;
}

#pragma once

#include "core/markdown/MarkdownNode.h"
#include "core/markdown/SourceRange.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

class SourceTextMap;

// One parse of a Markdown text with the system's standard settings: smart punctuation and source
// positions on; the table, strikethrough and task-list extensions attached. The tree is immutable
// after construction, so one parse can be shared (by std::shared_ptr) by everything that needs
// the same text: highlighter, preview, outline, counts. Sharing never changes a result: a shared
// parse answers exactly like a fresh one of the same text.
//
// Ranges come in two forms. `MarkdownNode::parserRange` is what the parser recorded; the ranges
// of this class are the system's own: half-open, inline code including its backtick runs, an ATX
// heading reaching its closing "#" sequence, and inline nodes on the continuation lines of a
// paragraph placed where they stand in the line (the parser counts those columns from the
// paragraph's first-line indentation). `textRange` turns them into UTF-16 offsets of `text()`.
//
// All const members, and the nodes' accessors, may be used from several threads at once.
class MarkdownDocument
{
public:
    explicit MarkdownDocument(const QString &text);
    ~MarkdownDocument();
    MarkdownDocument(const MarkdownDocument &) = delete;
    MarkdownDocument &operator=(const MarkdownDocument &) = delete;

    static std::shared_ptr<const MarkdownDocument> parse(const QString &text);

    // Registers the GitHub extensions with the parser library. Call once at start-up; parsing
    // also makes sure of it, so forgetting it costs nothing but the first parse's time.
    static void registerExtensions();

    const QString &text() const { return m_text; }
    // True when this is a parse of exactly `text` (so it can stand in for a fresh parse).
    bool isParseOf(const QString &text) const;
    // Distinct for every parse made in this process; lets a consumer notice a new tree cheaply.
    quint64 serial() const { return m_serial; }

    MarkdownNode root() const { return MarkdownNode(m_root); }
    // The bytes the parser read: the text as UTF-8 with every U+0000 replaced by U+FFFD.
    const QByteArray &utf8() const { return m_utf8; }
    // Lines as the parser counts them: ended by LF, CR LF or a lone CR.
    int lineCount() const;

    // The node's range, or none for a node without a position (soft and hard line breaks).
    std::optional<SourceRange> sourceRange(MarkdownNode node) const;
    std::optional<TextRange> textRange(MarkdownNode node) const;
    // Columns past a line's end are clamped to it; none for lines outside the text, columns
    // below 1, or an upper position before the lower one.
    std::optional<TextRange> textRange(const SourceRange &range) const;
    std::optional<qsizetype> textOffset(SourcePosition position) const;

private:
    // Per line of a paragraph's continuation: where its inline content starts (1-based column)
    // and how far the parser's columns for that line are off.
    struct ContinuationLine
    {
        int contentStart = 0;
        int shift = 0;
    };

    const SourceTextMap &map() const;
    void buildContinuationLines() const;
    void placeParagraphLines(cmark_node *paragraph) const;
    int contentStartColumn(int line) const;
    bool hasByteAt(SourcePosition position, char byte) const;
    int backtickRunAt(SourcePosition position) const;
    void shiftInline(SourcePosition &position) const;
    SourceRange widenedCodeRange(const SourceRange &range) const;
    SourceRange extendedHeadingRange(const SourceRange &range) const;
    SourceRange inlineHtmlRange(const SourceRange &range, MarkdownNode node) const;

    QString m_text;
    QByteArray m_utf8;
    cmark_node *m_root = nullptr;
    quint64 m_serial = 0;
    // Built on first use: the renderer and the outline never need it.
    mutable std::once_flag m_mapOnce;
    mutable std::unique_ptr<SourceTextMap> m_map;
    mutable std::vector<ContinuationLine> m_continuationLines; // index 0 unused
    mutable std::unordered_map<cmark_node *, SourcePosition> m_linkStarts;
};

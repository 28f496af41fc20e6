#pragma once

#include "core/markdown/MarkdownNode.h"
#include "core/markdown/SourcePositionRepair.h"
#include "core/markdown/SourceRange.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class SourceTextMap;

// One parse of a Markdown text with the system's standard settings: smart punctuation and source
// positions on; the table, strikethrough and task-list extensions attached. The tree is immutable
// after construction, so one parse can be shared (by std::shared_ptr) by everything that needs
// the same text: highlighter, preview, outline, counts. Sharing never changes a result: a shared
// parse answers exactly like a fresh one of the same text.
//
// Ranges come in two forms. `MarkdownNode::parserRange` is what the parser recorded; the ranges
// of this class are the system's own: half-open, starting and ending on the node's own markup
// (SourcePositionRepair puts right what the parser counts wrongly), inline code including its
// backtick runs, an ATX heading reaching its closing "#" sequence. `textRange` turns them into
// UTF-16 offsets of `text()`.
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
    // The line the node starts on, 0 for a node without a position.
    int startLine(MarkdownNode node) const;
    std::optional<TextRange> textRange(MarkdownNode node) const;
    // Columns past a line's end are clamped to it; none for lines outside the text, columns
    // below 1, or an upper position before the lower one.
    std::optional<TextRange> textRange(const SourceRange &range) const;
    std::optional<qsizetype> textOffset(SourcePosition position) const;
    // Byte offset in utf8() of a position, its column clamped to the line's content.
    std::optional<qsizetype> byteOffset(SourcePosition position) const;
    // The parser's line table over utf8().
    const SourceTextMap &sourceLines() const { return map(); }

private:
    const SourceTextMap &map() const;
    const SourceRange *repairedRange(cmark_node *node) const;
    SourceRange widenedCodeRange(const SourceRange &range) const;
    SourceRange extendedHeadingRange(const SourceRange &range) const;

    QString m_text;
    QByteArray m_utf8;
    cmark_node *m_root = nullptr;
    quint64 m_serial = 0;
    // Blocks whose positions the repair looks at, found while the tree is first walked.
    std::vector<SourcePositionRepair::Candidate> m_repairCandidates;
    // Built on first use, with the repaired ranges: a repaired node's user data is its index + 1.
    mutable std::once_flag m_mapOnce;
    mutable std::atomic<bool> m_mapReady {false};
    mutable std::unique_ptr<SourceTextMap> m_map;
    mutable std::vector<SourceRange> m_repaired;
};

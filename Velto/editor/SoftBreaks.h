#pragma once

#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>

#include <optional>

// The document's block breaks that stand for no line break of the text (EditorTextMapping's soft
// breaks) carry a mark in their character format. Qt keeps a block break's format through undo
// and redo, and reports it as the format of the block after it (QTextBlock::charFormat), so the
// mark tells such a block apart after every kind of change.
namespace softbreaks {

inline constexpr int markProperty = QTextFormat::UserProperty + 0x5B;

inline QTextCharFormat markFormat()
{
    QTextCharFormat format;
    format.setProperty(markProperty, true);
    return format;
}

// Whether the block continues the line of the block before it.
inline bool continuesLine(const QTextBlock &block)
{
    return block.isValid() && block.position() > 0 && block.charFormat().boolProperty(markProperty);
}

// Whether the position is just after a soft break (at the start of a continuing block).
inline bool afterSoftBreak(const QTextDocument *doc, int position)
{
    const QTextBlock block = doc->findBlock(position);
    return block.position() == position && continuesLine(block);
}

// Whether the position is just before a soft break (at the end of a block a continuing one
// follows).
inline bool beforeSoftBreak(const QTextDocument *doc, int position)
{
    const QTextBlock block = doc->findBlock(position);
    return block.position() + block.length() - 1 == position && continuesLine(block.next());
}

// The text of [start, end) with its lines as the text has them: block breaks become line feeds,
// soft breaks are left out. Nothing when no soft break lies within, so a caller can keep its
// usual way of taking the text.
std::optional<QString> lineText(const QTextDocument *doc, int start, int end);

} // namespace softbreaks

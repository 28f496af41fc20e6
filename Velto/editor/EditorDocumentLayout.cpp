#include "Velto/editor/EditorDocumentLayout.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>
#include <tuple>
#include <utility>

namespace {
// A line width this large means the document is laid out without wrapping.
constexpr qreal unwrappedWidth = 1e6;
} // namespace

EditorDocumentLayout::EditorDocumentLayout(QTextDocument *document)
    : QPlainTextDocumentLayout(document)
{
    // Connected before anything that restyles, so the edited line still has its lines.
    connect(document, &QTextDocument::contentsChange, this,
            [this](int from, int, int) { noteChange(from); });
}

void EditorDocumentLayout::noteChange(int from)
{
    m_before.reset();
    const QTextBlock block = document()->findBlock(from);
    if (const std::optional<qreal> width = lineWidth(block))
        m_before = Before {block, *width, blockBoundingRect(block).height()};
}

std::optional<qreal> EditorDocumentLayout::lineWidth(const QTextBlock &block)
{
    if (!block.isValid())
        return std::nullopt;
    const QTextLayout *layout = block.layout();
    if (layout->lineCount() == 0)
        return std::nullopt;
    const qreal width = layout->lineAt(0).width();
    if (width <= 0 || width >= unwrappedWidth)
        return std::nullopt;
    return width;
}

void EditorDocumentLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    QTextDocument *doc = document();
    const int last = qMax(0, from + charsRemoved + charsAdded - 1);
    const QTextBlock first = doc->findBlock(from);
    std::optional<Before> before;
    before.swap(m_before);
    // What the text holds now from the change on: with the same number of blocks, one block
    // holding it held all that was removed too.
    const int changedEnd = from + qMax(charsAdded, 1) - 1;
    if (doc->blockCount() == m_blockCount && first.isValid() && first.length() > 0
        && first.isVisible() && doc->findBlock(changedEnd) == first) {
        std::optional<qreal> width = lineWidth(first);
        qreal height = 0;
        if (width)
            height = blockBoundingRect(first).height();
        else if (before && before->block == first)
            std::tie(width, height) = std::pair(before->width, before->height);
        else if (first.layout()->lineCount() == 0)
            return; // laid out when it is needed
        if (width) {
            const int lines = doc->lineCount();
            layOut(first, *width);
            if (doc->lineCount() != lines)
                emit documentSizeChanged(documentSize());
            if (blockBoundingRect(first).height() == height)
                emit updateBlock(first);
            else
                emit update(QRectF(0., -doc->documentMargin(), 1000000000., 1000000000.));
            return;
        }
    }

    // Qt drops the layouts of the changed lines; the first one's lines still tell the width.
    const std::optional<qreal> width = lineWidth(first);
    QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
    m_blockCount = doc->blockCount();
    const QTextBlock end = doc->findBlock(last);
    if (!width || !end.isValid() || end.blockNumber() - first.blockNumber() >= maxLaidOutBlocks)
        return;
    const int lines = doc->lineCount();
    for (QTextBlock block = doc->findBlock(from); block.isValid(); block = block.next()) {
        if (block.isVisible() && block.layout()->lineCount() == 0)
            layOut(block, *width);
        if (block == end)
            break;
    }
    if (doc->lineCount() != lines)
        emit documentSizeChanged(documentSize());
}

void EditorDocumentLayout::layOut(const QTextBlock &block, qreal width)
{
    QTextDocument *doc = document();
    const qreal margin = doc->documentMargin();
    QTextLayout *layout = block.layout();
    layout->setTextOption(doc->defaultTextOption());
    layout->beginLayout();
    qreal height = 0;
    while (true) {
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        line.setLeadingIncluded(true);
        line.setLineWidth(width);
        line.setPosition(QPointF(margin, height));
        height += line.height();
        if (line.leading() < 0)
            height += std::ceil(line.leading());
    }
    layout->endLayout();
    const_cast<QTextBlock &>(block).setLineCount(layout->lineCount());
    ++m_ownLayouts;
}

#include "Velto/editor/MarkdownHighlighter.h"

#include <QTextBlock>
#include <QTextDocument>

namespace {
// Marks a block whose formats are not yet those of its runs.
class DeferredStyle : public QTextBlockUserData
{
};
} // namespace

HighlightColors HighlightColors::forTheme(const QColor &text, const QColor &background)
{
    const bool dark = background.lightnessF() < 0.5;
    auto shade = [&text](double alpha) {
        QColor c = text;
        c.setAlphaF(float(text.alphaF() * alpha));
        return c;
    };
    HighlightColors colors;
    colors.label = text;
    colors.secondaryLabel = shade(0.5);
    colors.tertiaryLabel = shade(0.26);
    colors.link = dark ? QColor(0x0A, 0x84, 0xFF) : QColor(0x00, 0x7A, 0xFF);
    colors.inlineCode = dark ? QColor(0xFF, 0x37, 0x5F) : QColor(0xFF, 0x2D, 0x55);
    colors.codeBackground = QColor(128, 128, 128, 20); // white level 0.5, alpha 0.08
    return colors;
}

MarkdownHighlighter::MarkdownHighlighter(QObject *parent)
    : QSyntaxHighlighter(parent)
{
    buildFormats();
}

void MarkdownHighlighter::attach(QTextDocument *document)
{
    setDocument(document);
    if (document)
        connect(document, &QTextDocument::contentsChanged, this,
                &MarkdownHighlighter::restylePending);
}

void MarkdownHighlighter::setRuns(HighlightRuns runs, int position, int charsRemoved,
                                  int charsAdded)
{
    QTextDocument *doc = document();
    const HighlightRuns old = std::move(m_runs);
    m_runs = std::move(runs);
    m_pending.clear();
    if (!doc)
        return;

    // Qt restyles the blocks from the one holding `position` through the one holding the end of
    // the change (see QSyntaxHighlighter's reformatBlocks); the rest keep their formats unless
    // their runs moved or changed.
    const int first = doc->findBlock(position).blockNumber();
    const QTextBlock lastBlock = doc->findBlock(position + charsAdded + (charsRemoved > 0 ? 1 : 0));
    const int newCount = int(m_runs.lineCount());
    const int last = lastBlock.isValid() ? lastBlock.blockNumber() : newCount - 1;
    const int shift = newCount - int(old.lineCount());
    m_editedBlocks = first < 0 ? 0 : last - first + 1;

    auto pending = [this](qsizetype line) { m_pending.push_back(int(line)); };
    m_runs.forEachChangedLine(old, 0, 0, first, pending);
    m_runs.forEachChangedLine(old, shift, last + 1, newCount, pending);
    m_lastRestyled = m_editedBlocks + int(m_pending.size());
}

void MarkdownHighlighter::moveRuns(const TextEditSpan &edit, int position, int charsRemoved,
                                   int charsAdded)
{
    shiftRunsInPlace(m_runs, edit);
    m_pending.clear();
    // Qt restyles the edited blocks (see setRuns above); no other line's runs changed.
    QTextDocument *doc = document();
    if (!doc)
        return;
    const int first = doc->findBlock(position).blockNumber();
    const QTextBlock lastBlock = doc->findBlock(position + charsAdded + (charsRemoved > 0 ? 1 : 0));
    const int last = lastBlock.isValid() ? lastBlock.blockNumber() : int(m_runs.lineCount()) - 1;
    m_editedBlocks = first < 0 ? 0 : last - first + 1;
    m_lastRestyled = m_editedBlocks;
}

void MarkdownHighlighter::setRuns(const HighlightRuns &runs)
{
    m_pending.clear();
    m_editedBlocks = 0;
    runs.forEachChangedLine(m_runs, 0, 0, runs.lineCount(),
                            [this](qsizetype line) { m_pending.push_back(int(line)); });
    m_runs = runs;
    m_lastRestyled = int(m_pending.size());
    restylePending();
}

void MarkdownHighlighter::restylePending()
{
    // Restyling a block itself reports a content change; that one has nothing to do.
    if (m_restyling || m_pending.empty())
        return;
    QTextDocument *doc = document();
    const std::vector<int> pending = std::move(m_pending);
    m_pending.clear();
    if (!doc)
        return;
    int visibleFirst = 0;
    int visibleLast = doc->blockCount();
    if (m_visibleBlocks) {
        qint64 characters = 0;
        for (const int number : pending) {
            characters += doc->findBlockByNumber(number).length();
            if (characters > deferAboveChars)
                break;
        }
        if (characters > deferAboveChars)
            std::tie(visibleFirst, visibleLast) = m_visibleBlocks();
    }
    m_restyling = true;
    for (const int number : pending) {
        QTextBlock block = doc->findBlockByNumber(number);
        if (!block.isValid())
            continue;
        if (number >= visibleFirst && number <= visibleLast)
            rehighlightBlock(block);
        else if (!isDeferred(block))
            block.setUserData(new DeferredStyle);
    }
    m_restyling = false;
}

bool MarkdownHighlighter::isDeferred(const QTextBlock &block)
{
    return dynamic_cast<DeferredStyle *>(block.userData()) != nullptr;
}

void MarkdownHighlighter::restyleDeferred(int first, int last)
{
    QTextDocument *doc = document();
    if (!doc || m_restyling)
        return;
    m_restyling = true;
    for (QTextBlock block = doc->findBlockByNumber(std::max(first, 0));
         block.isValid() && block.blockNumber() <= last; block = block.next()) {
        if (isDeferred(block))
            rehighlightBlock(block);
    }
    m_restyling = false;
}

void MarkdownHighlighter::highlightBlock(const QString &)
{
    if (currentBlockUserData())
        setCurrentBlockUserData(nullptr); // shown as its runs from now on
    for (const HighlightRun &run : m_runs.line(currentBlock().blockNumber()))
        setFormat(int(run.start), int(run.length), m_formats[run.style]);
}

void MarkdownHighlighter::setColors(const HighlightColors &colors)
{
    if (colors == m_colors)
        return;
    m_colors = colors;
    buildFormats();
    if (document()) {
        rehighlight();
        m_lastRestyled = document()->blockCount();
    }
}

QTextCharFormat MarkdownHighlighter::format(HighlightStyle style) const
{
    return m_formats[style.pack()];
}

void MarkdownHighlighter::buildFormats()
{
    for (int bits = 0; bits < 256; ++bits) {
        const HighlightStyle style = HighlightStyle::unpack(std::uint8_t(bits));
        QTextCharFormat f;
        switch (style.foreground) {
        case HighlightColor::base:
            break;
        case HighlightColor::label:
            f.setForeground(m_colors.label);
            break;
        case HighlightColor::secondaryLabel:
            f.setForeground(m_colors.secondaryLabel);
            break;
        case HighlightColor::tertiaryLabel:
            f.setForeground(m_colors.tertiaryLabel);
            break;
        case HighlightColor::link:
            f.setForeground(m_colors.link);
            break;
        case HighlightColor::inlineCode:
            f.setForeground(m_colors.inlineCode);
            break;
        }
        if (style.codeBackground)
            f.setBackground(m_colors.codeBackground);
        if (style.bold)
            f.setFontWeight(QFont::Bold);
        if (style.italic)
            f.setFontItalic(true);
        if (style.underline)
            f.setFontUnderline(true);
        if (style.strikethrough)
            f.setFontStrikeOut(true);
        m_formats[size_t(bits)] = f;
    }
}

#include "Velto/editor/LongBlockLayout.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>

LongBlockLayout::LongBlockLayout(QPlainTextEdit *view)
    : QObject(view)
    , m_view(view)
{
    // The document reports a change before it lays out the changed blocks, so the wrap mode is
    // right before the first line of a long block is made.
    connect(view->document(), &QTextDocument::contentsChange, this,
            &LongBlockLayout::onContentsChange);
}

qsizetype LongBlockLayout::longestUnbreakableRun(QStringView text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text.data(), text.size());
    qsizetype longest = 0;
    qsizetype previous = 0;
    for (qsizetype at = finder.toNextBoundary(); at >= 0; at = finder.toNextBoundary()) {
        longest = std::max(longest, at - previous);
        previous = at;
    }
    return std::max(longest, text.size() - previous);
}

void LongBlockLayout::onContentsChange(int position, int, int added)
{
    if (!m_view)
        return;
    QTextDocument *doc = m_view->document();
    // A whole new text decides the wrap mode afresh; an edit can only add a long stretch.
    const bool wholeText = position == 0 && added >= doc->characterCount() - 1;
    const bool wrapsAnywhere = m_view->wordWrapMode() == QTextOption::WrapAnywhere;
    bool longRun = wrapsAnywhere && !wholeText;

    const QTextBlock last = doc->findBlock(position + added);
    for (QTextBlock block = doc->findBlock(position); block.isValid(); block = block.next()) {
        // Only a long block can hold a long stretch.
        if (block.length() > cachedBlockLength) {
            block.layout()->setCacheEnabled(true);
            if (!longRun && block.length() > maxUnbreakableRun
                && longestUnbreakableRun(block.text()) > maxUnbreakableRun)
                longRun = true;
        }
        if (block == last)
            break;
    }
    if (longRun != wrapsAnywhere)
        m_view->setWordWrapMode(longRun ? QTextOption::WrapAnywhere
                                        : QTextOption::WrapAtWordBoundaryOrAnywhere);
}

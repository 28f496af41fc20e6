#pragma once

#include "core/highlight/HighlightStyle.h"
#include "core/highlight/RunShift.h"

#include <QColor>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <array>
#include <functional>
#include <utility>
#include <vector>

class QTextDocument;

// The colours of the highlight roles for one theme. The label roles are shades of the theme's
// text colour, so headings stay readable on every background; blue and pink follow the theme's
// lightness.
struct HighlightColors
{
    QColor label;
    QColor secondaryLabel;
    QColor tertiaryLabel;
    QColor link;
    QColor inlineCode;
    QColor codeBackground;

    static HighlightColors forTheme(const QColor &text, const QColor &background);
    friend bool operator==(const HighlightColors &, const HighlightColors &) = default;
};

// Shows precomputed style runs through the layout's additional formats, which change neither the
// text, the undo stack nor the modified flag.
//
// The runs of the whole text are handed in after every change (setRuns). Qt restyles the edited
// lines by itself; of the other lines only those whose runs differ from before are restyled, once
// the document has finished its change, so a keystroke normally lays out one block again.
class MarkdownHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT

public:
    explicit MarkdownHighlighter(QObject *parent = nullptr);

    // Attaches to a document. Connect everything that computes runs on contentsChange before
    // calling this, so the runs are fresh when Qt restyles the edited lines.
    void attach(QTextDocument *document);

    // New runs after the document changed at `position` (removed and added as reported by
    // QTextDocument::contentsChange).
    void setRuns(HighlightRuns runs, int position, int charsRemoved, int charsAdded);
    // After the document changed at `position`, the runs of the edited lines as TextEditSpan
    // describes them (shiftRunsInPlace), with every other line keeping its runs.
    void moveRuns(const TextEditSpan &edit, int position, int charsRemoved, int charsAdded);
    // New runs for the unchanged document (a theme change, a parse landing): every differing line
    // is restyled at once. Lines of chunks the runs share with those shown are not compared.
    void setRuns(const HighlightRuns &runs);
    const HighlightRuns &runs() const { return m_runs; }

    void setColors(const HighlightColors &colors);
    const HighlightColors &colors() const { return m_colors; }
    // The format shown for a style.
    QTextCharFormat format(HighlightStyle style) const;

    // Restyling costs about a tenth of a millisecond per thousand characters, so when more than
    // deferAboveChars characters change their styles at once (a fence opened at the top of a
    // long text), only the blocks in visibleBlocks() are restyled then; the others are marked and
    // restyled once they are about to be shown (restyleDeferred).
    static constexpr int deferAboveChars = 32 * 1024;
    void setVisibleBlocks(std::function<std::pair<int, int>()> visibleBlocks)
    {
        m_visibleBlocks = std::move(visibleBlocks);
    }
    // Restyles the marked blocks from number `first` through `last`.
    void restyleDeferred(int first, int last);
    static bool isDeferred(const QTextBlock &block);

protected:
    void highlightBlock(const QString &text) override;

private:
    friend struct MarkdownHighlighterTestAccess;

    void restylePending();
    void buildFormats();

    HighlightRuns m_runs;
    HighlightColors m_colors;
    std::array<QTextCharFormat, 256> m_formats;
    std::vector<int> m_pending; // block numbers to restyle after the document's change
    std::function<std::pair<int, int>()> m_visibleBlocks;
    bool m_restyling = false;
    int m_lastRestyled = 0; // blocks restyled because of the last change (deferred ones too)
    int m_editedBlocks = 0;
};

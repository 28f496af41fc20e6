#pragma once

#include <QPlainTextDocumentLayout>
#include <QTextBlock>

#include <optional>

// The editor's document layout: Qt's plain-text layout, except that edits lay out only the lines
// they touch and only when those lines are laid out already.
//
// Qt's layout keeps the width of the widest line for the horizontal scroll range. When the line
// holding that width gets narrower, it measures every line of the document again, creating a
// layout object for each: in a document of 370,000 lines a keystroke took 15 ms whenever the
// typed paragraph was the widest and a word moved to its next line, a Return in it 30 ms, and
// the objects stayed in memory. It also lays out at once every line whose styles change, also
// those far outside the view. The editor wraps at its width, so that scroll range is empty either
// way: a change within one line, and the lines a small change across lines leaves behind, are
// laid out here the way Qt lays them out, without the measuring; a line that was not laid out
// stays so until it is shown. Large changes, and any document that does not wrap, go to Qt's own
// handling.
//
// A keystroke repaints only the edited line when its height stays. The highlighter restyles that
// line while the document reports the change, which widens the reported change to the whole line
// and drops the line's layout; what the line was like before is therefore taken when the change
// is announced.
class EditorDocumentLayout : public QPlainTextDocumentLayout
{
    Q_OBJECT

public:
    // Lines a change across lines may leave behind and still be laid out here.
    static constexpr int maxLaidOutBlocks = 64;

    explicit EditorDocumentLayout(QTextDocument *document);

    // Blocks laid out here so far, for tests.
    int ownLayouts() const { return m_ownLayouts; }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    // The width lines of the block were last laid out to; none when it has no lines or the
    // document does not wrap.
    static std::optional<qreal> lineWidth(const QTextBlock &block);
    void layOut(const QTextBlock &block, qreal width);
    void noteChange(int from);

    // The edited line as it was laid out before the change.
    struct Before
    {
        QTextBlock block;
        qreal width = 0;
        qreal height = 0;
    };
    std::optional<Before> m_before;

    int m_blockCount = -1; // as Qt's layout last saw it
    int m_ownLayouts = 0;
};

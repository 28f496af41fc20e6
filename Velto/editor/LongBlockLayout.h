#pragma once

#include <QObject>
#include <QPointer>
#include <QStringView>

class QPlainTextEdit;
class QTextBlock;

// Keeps the editor's layout affordable for very long lines (a data URL, a hash, a minified
// file, a paragraph without line breaks).
//
// Qt's "at word boundaries, else anywhere" wrapping measures, for every line it lays out, the
// rest of a stretch without a break opportunity up to its end before it falls back to breaking
// anywhere: a 300 KB line without a space took seconds and a megabyte one minutes. While the
// document holds a stretch longer than maxUnbreakableRun, it wraps anywhere instead, which lays
// out each line from its own characters only. Ordinary lines then may break inside a word; the
// document returns to word wrapping when its whole text is replaced (another file opened)
// without such a stretch.
//
// A block's layout also normally drops its shaped glyphs after every paint, so each caret blink
// shaped a long block anew (a quarter of a second for a megabyte). Blocks longer than
// cachedBlockLength keep theirs.
class LongBlockLayout : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype maxUnbreakableRun = 4096;
    static constexpr qsizetype cachedBlockLength = 4096;

    explicit LongBlockLayout(QPlainTextEdit *view);

    // The longest stretch of the text in which the line breaker finds no place to break.
    static qsizetype longestUnbreakableRun(QStringView text);

private:
    void onContentsChange(int position, int removed, int added);

    QPointer<QPlainTextEdit> m_view;
};

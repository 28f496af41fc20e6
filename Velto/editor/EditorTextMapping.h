#pragma once

#include "core/highlight/RunShift.h"

#include <QString>
#include <QStringView>

#include <vector>

// Keeps the workspace text and the editor's copy of it in step.
//
// QTextDocument cannot hold every text faithfully: it drops the CR of a CR LF pair and turns a
// lone CR, U+2029, U+FDD0 and U+FDD1 into block breaks. The editor therefore shows a copy in which
// each of those line breaks is a plain LF, and this mapping remembers, for every such LF, what the
// workspace text holds there. Everything else (NBSP, U+2028, surrogate pairs, NUL) is the same in
// both texts, so offsets only shift at CR LF pairs.
//
// Qt lays a line out whole after every change to it, which costs a tenth of a second per
// megabyte; a line longer than splitLength therefore shows as several lines of the editor, each
// at most pieceLength long (broken after a space where one is near) unless a Character is longer:
// pieces end only between Characters. The LFs between those pieces are soft breaks: they stand for
// nothing in the workspace text. The editor marks the document's block break of each
// (SoftBreaks.h), so that an undo bringing one back is known.
//
// Invariant: replacing every recorded LF of the editor copy by its workspace form gives the
// workspace text. Both directions of editing keep it, and a soft break never changes which line
// breaks the workspace text has. A change from elsewhere leaves the lines it touches split as
// opening the text would split them.
class EditorTextMapping
{
public:
    static constexpr qsizetype defaultSplitLength = 4096;
    static constexpr qsizetype defaultPieceLength = 2048;

    EditorTextMapping() = default;
    // Other lengths, for tests.
    EditorTextMapping(qsizetype splitLength, qsizetype pieceLength)
        : m_splitLength(splitLength)
        , m_pieceLength(pieceLength)
    {
    }

    // A replacement of `removed` code units at `position` by `text`, in one of the two texts.
    struct Edit
    {
        qint64 position = 0;
        qint64 removed = 0;
        QString text;

        // Offsets in `text` of the LFs that are soft breaks (editor edits only).
        std::vector<qsizetype> softBreaks;

        bool isEmpty() const { return removed == 0 && text.isEmpty(); }
        friend bool operator==(const Edit &, const Edit &) = default;
    };

    // Starts over from a workspace text and returns the editor copy of it.
    QString reset(const QString &workspaceText);

    // The editor copy of a text, without changing any mapping (default lengths).
    static QString editorCopy(const QString &workspaceText);

    // True when the editor copy equals the workspace text (no mapped line breaks).
    bool isIdentity() const { return m_entries.empty(); }
    // Editor offsets of the soft breaks' LFs, in order.
    std::vector<qint64> softBreaks() const;
    bool hasSoftBreaks() const { return m_softCount > 0; }
    // The editor copy without its soft breaks (the lines as the workspace text has them), and
    // where its lines are split in the copy.
    struct Joined
    {
        QString text;
        std::vector<LineSplit> splits;
    };
    static Joined joinSoftBreaks(QStringView editorText, const std::vector<qint64> &softBreaks);
    // The line break written for a line feed typed into the editor: the form of the document's
    // first line break when it was loaded ("\r\n", "\r"), else "\n".
    QString lineBreak() const { return m_lineBreak; }

    // Offset conversion. A position on the CR of a CR LF pair and the one between CR and LF both
    // map to the editor position before the LF; an editor position before such an LF maps to the
    // position before the CR.
    qint64 toWorkspace(qint64 editorOffset) const;
    qint64 toEditor(qint64 workspaceOffset) const;

    // The editor copy replaced `removedText` at `position` by `insertedText`; `following` is the
    // copy after the inserted text (its first character is enough unless soft breaks follow).
    // Returns the matching workspace edit (the smallest one: text common to both sides is left
    // alone) and updates the mapping. Line breaks of the replaced text keep their workspace form
    // when the replacement has as many of them (wrapping, unwrapping, replacing words); other new
    // line feeds become lineBreak(). Next to a lone CR a line break never becomes one that pairs
    // with it. `softInserted` lists the offsets in insertedText of LFs that are soft breaks (an
    // undo bringing one back); removed soft breaks are known to the mapping.
    Edit mirrorEditorEdit(qint64 position, const QString &removedText, const QString &insertedText,
                          QStringView following, const std::vector<qsizetype> &softInserted = {});
    Edit mirrorEditorEdit(qint64 position, const QString &removedText, const QString &insertedText,
                          QChar following, const std::vector<qsizetype> &softInserted = {});

    // The workspace text changed from oldText to newText (elsewhere: another device). Returns
    // small editor edits, one per changed region, that bring the copy in step when applied in
    // the order given (from the end of the text backwards), and updates the mapping. Each edit
    // lists the soft breaks of its text.
    std::vector<Edit> applyWorkspaceChange(const QString &oldText, const QString &newText);

    // The workspace text for an editor copy under the current mapping (for checks and tests).
    QString workspaceTextFor(QStringView editorText) const;

private:
    struct Entry
    {
        qint64 workspace = 0; // offset of the line break in the workspace text
        qint64 editor = 0; // offset of its LF in the editor copy
        qint64 shiftThrough = 0; // workspace minus editor offset after this entry
        char16_t form = 0; // '\r' (with `pair`), U+2029, U+FDD0, U+FDD1; 0 for a soft break
        bool pair = false; // a CR LF pair: two units in the workspace text

        bool soft() const { return form == 0; }
        // Workspace units minus editor units of this line break: 1, 0 or -1.
        int shift() const { return pair ? 1 : soft() ? -1 : 0; }
        QString workspaceForm() const;
    };

    // Index of the first entry whose workspace (editor) offset is >= the offset.
    std::size_t lowerBoundWorkspace(qint64 offset) const;
    std::size_t lowerBoundEditor(qint64 offset) const;
    // Whether a soft break stands in [workspaceFrom, workspaceTo] of the workspace text.
    bool hasSoftBreak(qint64 workspaceFrom, qint64 workspaceTo) const;
    // Replaces the entries of one region: removes those in [first, last), shifts the later ones
    // and inserts the new ones (already at final offsets, in order).
    void replaceEntries(std::size_t first, std::size_t last, qint64 workspaceShift,
                        qint64 editorShift, std::vector<Entry> inserted);
    // Replaces the workspace region starting at `start`; returns the editor edit.
    Edit replaceRegion(qint64 start, QStringView oldRegion, QStringView newRegion);
    // Scans workspace text into editor text and entries (offsets relative to the given bases),
    // splitting lines longer than splitLength.
    static QString scan(QStringView workspaceText, qint64 workspaceBase, qint64 editorBase,
                        std::vector<Entry> *entries, qsizetype splitLength, qsizetype pieceLength);
    QString scan(QStringView workspaceText, qint64 workspaceBase, qint64 editorBase,
                 std::vector<Entry> *entries) const
    {
        return scan(workspaceText, workspaceBase, editorBase, entries, m_splitLength,
                    m_pieceLength);
    }
    // Where the soft breaks of the line [start, end) of a text go, in order.
    static void splitPoints(QStringView text, qsizetype start, qsizetype end, qsizetype pieceLength,
                            std::vector<qsizetype> &points);

    std::vector<Entry> m_entries;
    qsizetype m_softCount = 0;
    qsizetype m_splitLength = defaultSplitLength;
    qsizetype m_pieceLength = defaultPieceLength;
    QString m_lineBreak = QStringLiteral("\n");
};

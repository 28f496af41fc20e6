#pragma once

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
// Invariant: replacing every recorded LF of the editor copy by its workspace form gives the
// workspace text. Both directions of editing keep it.
class EditorTextMapping
{
public:
    // A replacement of `removed` code units at `position` by `text`, in one of the two texts.
    struct Edit
    {
        qint64 position = 0;
        qint64 removed = 0;
        QString text;

        bool isEmpty() const { return removed == 0 && text.isEmpty(); }
        friend bool operator==(const Edit &, const Edit &) = default;
    };

    // Starts over from a workspace text and returns the editor copy of it.
    QString reset(const QString &workspaceText);

    // The editor copy of a text, without changing any mapping.
    static QString editorCopy(const QString &workspaceText);

    // True when the editor copy equals the workspace text (no mapped line breaks).
    bool isIdentity() const { return m_entries.empty(); }
    // The line break written for a line feed typed into the editor: the form of the document's
    // first line break when it was loaded ("\r\n", "\r"), else "\n".
    QString lineBreak() const { return m_lineBreak; }

    // Offset conversion. A position on the CR of a CR LF pair and the one between CR and LF both
    // map to the editor position before the LF; an editor position before such an LF maps to the
    // position before the CR.
    qint64 toWorkspace(qint64 editorOffset) const;
    qint64 toEditor(qint64 workspaceOffset) const;

    // The editor copy replaced `removedText` at `position` by `insertedText`; `following` is the
    // copy's character right after the inserted text (none at its end). Returns the matching
    // workspace edit (the smallest one: text common to both sides is left alone) and updates the
    // mapping. Line breaks of the replaced text keep their workspace form when the replacement
    // has as many of them (wrapping, unwrapping, replacing words); other new line feeds become
    // lineBreak(). Next to a lone CR a line break never becomes one that pairs with it.
    Edit mirrorEditorEdit(qint64 position, const QString &removedText, const QString &insertedText,
                          QChar following);

    // The workspace text changed from oldText to newText (elsewhere: another device). Returns
    // small editor edits, one per changed region, that bring the copy in step when applied in
    // the order given (from the end of the text backwards), and updates the mapping.
    std::vector<Edit> applyWorkspaceChange(const QString &oldText, const QString &newText);

    // The workspace text for an editor copy under the current mapping (for checks and tests).
    QString workspaceTextFor(QStringView editorText) const;

private:
    struct Entry
    {
        qint64 workspace = 0; // offset of the line break in the workspace text
        qint64 editor = 0; // offset of its LF in the editor copy
        qint64 pairsThrough = 0; // CR LF pairs up to and including this entry
        char16_t form = 0; // '\r' (with `pair`), U+2029, U+FDD0 or U+FDD1
        bool pair = false; // a CR LF pair: two units in the workspace text

        QString workspaceForm() const;
    };

    // Index of the first entry whose workspace (editor) offset is >= the offset.
    std::size_t lowerBoundWorkspace(qint64 offset) const;
    std::size_t lowerBoundEditor(qint64 offset) const;
    // Replaces the entries of one region: removes those in [first, last), shifts the later ones
    // and inserts the new ones (already at final offsets, in order).
    void replaceEntries(std::size_t first, std::size_t last, qint64 workspaceShift,
                        qint64 editorShift, std::vector<Entry> inserted);
    // Replaces the workspace region starting at `start`; returns the editor edit.
    Edit replaceRegion(qint64 start, QStringView oldRegion, QStringView newRegion);
    // Scans workspace text into editor text and entries (offsets relative to the given bases).
    static QString scan(QStringView workspaceText, qint64 workspaceBase, qint64 editorBase,
                        std::vector<Entry> *entries);

    std::vector<Entry> m_entries;
    QString m_lineBreak = QStringLiteral("\n");
};

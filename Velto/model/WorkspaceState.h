#pragma once

#include "core/model/FileNode.h"
#include "core/model/FolderScan.h"
#include "core/model/SessionRestore.h"
#include "core/model/SharedEnds.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class Defaults;
class FilePanels;
class HistoryStore;
class LatestWorker;
class TextAnalysis;

// The model behind one main window: the open folder with its scanned tree, the one open document
// (its file, the text being edited and the text as last read or written), the caret, a caret to
// apply once after a file was opened, the history row of the open folder, and a counter of edits
// that came from other devices.
//
// Every setter compares first and emits its …Changed signal only on a real change (strings by
// canonical equivalence, the tree node for node). Setters do nothing else. All of it lives on the
// main thread; only the folder scan runs elsewhere and hands its tree back here.
class WorkspaceState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(QString savedText READ savedText WRITE setSavedText NOTIFY savedTextChanged)
    Q_PROPERTY(qint64 cursorPosition READ cursorPosition WRITE setCursorPosition NOTIFY
                   cursorPositionChanged)
    Q_PROPERTY(qint64 remoteEditGeneration READ remoteEditGeneration WRITE setRemoteEditGeneration
                   NOTIFY remoteEditGenerationChanged)

public:
    // What the document operations work with, handed in by the window (the application's) or a
    // test. A workspace built without them only holds a document: it records no history,
    // restores no session and asks for no file.
    struct Services
    {
        HistoryStore *history = nullptr;
        Defaults *defaults = nullptr; // for the session values
        FilePanels *panels = nullptr;
    };

    explicit WorkspaceState(QObject *parent = nullptr);
    explicit WorkspaceState(const Services &services, QObject *parent = nullptr);
    ~WorkspaceState() override;

    // Stored fields.
    std::optional<QUrl> folderURL() const { return m_folderURL; }
    void setFolderURL(const std::optional<QUrl> &url);
    const QList<FileNode> &fileTree() const { return m_fileTree; }
    void setFileTree(const QList<FileNode> &tree);
    std::optional<QUrl> selectedFileURL() const { return m_selectedFileURL; }
    void setSelectedFileURL(const std::optional<QUrl> &url);
    const QString &text() const { return m_text; }
    void setText(const QString &text);
    // setText for a text that is text() with `removed` code units at `position` replaced by
    // `inserted` ones (a keystroke): only the edited part is compared, not the whole text.
    void setText(const QString &text, qsizetype position, qsizetype removed, qsizetype inserted);
    // A change made to the document rather than a new text (the chat's replace and append): the
    // editor applies it as one step the user can undo.
    void editText(const QString &text);
    // The last change of the text came from editText.
    bool textWasEdited() const { return m_textWasEdited; }
    const QString &savedText() const { return m_savedText; }
    void setSavedText(const QString &text);
    // UTF-16 code units from the start of text.
    qint64 cursorPosition() const { return m_cursorPosition; }
    void setCursorPosition(qint64 position);
    // A one-shot request for the editor: apply this caret after the text was replaced, then clear.
    std::optional<qint64> restoreCursorPosition() const { return m_restoreCursorPosition; }
    void setRestoreCursorPosition(std::optional<qint64> position);
    // The history entry of the open folder, shown expanded in the sidebar.
    std::optional<QUuid> expandedFolderID() const { return m_expandedFolderID; }
    void setExpandedFolderID(std::optional<QUuid> id);
    // Raised by one by the sync adapter for every change it applies from another device.
    qint64 remoteEditGeneration() const { return m_remoteEditGeneration; }
    void setRemoteEditGeneration(qint64 generation);

    // Raised by every assignment that changes the text's code units, so values derived from the
    // text can be kept per revision.
    quint64 textRevision() const { return m_textRevision; }
    // What text() is known to share at its ends with the text of an earlier textRevision(), so a
    // consumer of textChanged compares only the rest: known for the revision of the previous
    // textChanged as long as every change since was a keystroke (setText with its edit); nothing
    // for any other revision.
    SharedEnds sharedEndsSince(quint64 revision) const
    {
        return revision == m_endsRevision ? m_ends : SharedEnds {};
    }

    // Derived values, computed once per revision of the texts they read: status polls and window
    // titles must not normalise or count a long document on every read.
    bool isModified() const;
    QString windowTitle() const;
    qsizetype wordCount() const;
    qsizetype charCount() const;
    QString readingTime() const;
    // The counts of one revision of a text. The status bar and the local API read them from the
    // text's shared analysis, so a text is counted once, on the background pool when it is long.
    struct TextCounts
    {
        qsizetype words = 0;
        qsizetype characters = 0;
    };
    static TextCounts countsOf(const TextAnalysis &analysis);

    // Document operations. All run on the main thread and return without waiting for the disk
    // scan or the network. None of them shows an error; the results are for programmatic callers
    // (the local API answers "ok": false on a failed read or write), and UI callers ignore them.
    // A task that is dropped still runs to its end; co_await it (or QCoro::connect to it) to learn
    // the result.

    // Asks for a file or folder in a non-blocking panel and opens what was chosen.
    void showOpenPanel();
    // Opens the folder of a history entry. False when the history has no URL for it.
    bool openFolder(const QUuid &entryID);
    // Rescans folderURL in the background; the tree arrives in fileTree later (then
    // fileTreeReloaded). Without a folder the tree is emptied at once.
    void reloadFileTree();
    // Opens a regular file as the document. A modified document is saved first; when that save
    // fails, or is a save panel that gets cancelled, nothing is opened and the edits stay.
    // Finishes at once except while waiting for that save panel. True when the file was opened.
    QCoro::Task<bool> openFile(QUrl url);
    // Writes the document to its file (even when unmodified) and emits fileSaved. An untitled
    // document starts saveAs() instead and returns true. False when the write failed, or when
    // the document is untitled and a save panel is already up.
    bool save();
    // Asks for a new name in a non-blocking panel and writes the document there. The task ends
    // when the panel completes: true when the open document was written and took the new name.
    // If the document was replaced while the panel was up, the text of the moment the panel
    // opened goes to the chosen file and the new document is left alone (result false). One
    // panel per workspace: while one is up, a further call ends at once with false.
    QCoro::Task<bool> saveAs();
    // Empties the document (menu New). Same save-first rule and result as openFile.
    QCoro::Task<bool> closeFile();
    // Reopens the last folder and file when a window is shown.
    void restoreSession();
    // Remembers the caret of the open file.
    void saveCursorPosition();

    // The tree of a folder (FolderScan): reads no field and may run on any thread.
    static QList<FileNode> scanDirectory(const QUrl &folder, int depth = 0)
    {
        return FolderScan::scan(folder, depth);
    }
    static const QSet<QString> &excludedDirectoryNames() { return FolderScan::excludedNames(); }

    // Whether a save panel of this workspace is waiting for the user.
    bool isSavePanelOpen() const { return m_savePanelOpen; }

signals:
    void folderURLChanged();
    void fileTreeChanged();
    void selectedFileURLChanged();
    void textChanged();
    void savedTextChanged();
    void cursorPositionChanged();
    void restoreCursorPositionChanged();
    void expandedFolderIDChanged();
    void remoteEditGenerationChanged();

    // A file-backed document was written by save(); the sync adapter uploads it when paired.
    void fileSaved(const QUrl &url);
    // The latest folder scan has been applied to fileTree (changed or not).
    void fileTreeReloaded();
    // A file chosen in the open panel could not be read as UTF-8 text; nothing was opened and
    // the history is as it was.
    void chosenFileUnreadable(const QUrl &url);

private:
    QCoro::Task<bool> saveBeforeReplacing();
    void announceText();
    TextCounts counts() const;
    void openChosenItem(const QUrl &url);
    QCoro::Task<bool> openChosenFile(QUrl url);
    void applyScan(quint64 generation, const QUrl &folder, const QList<FileNode> &tree);
    HistoryStore &history() const;
    SessionRestore session() const;
    FilePanels &panels() const;

    Services m_services;

    std::optional<QUrl> m_folderURL;
    QList<FileNode> m_fileTree;
    std::optional<QUrl> m_selectedFileURL;
    QString m_text;
    QString m_savedText;
    qint64 m_cursorPosition = 0;
    std::optional<qint64> m_restoreCursorPosition;
    std::optional<QUuid> m_expandedFolderID;
    qint64 m_remoteEditGeneration = 0;
    bool m_textWasEdited = false;

    quint64 m_textRevision = 0;
    quint64 m_savedTextRevision = 0;
    struct Derived
    {
        quint64 textRevision = ~quint64(0);
        quint64 savedTextRevision = ~quint64(0);
        bool modified = false;
    };
    mutable Derived m_derived;
    // How many code units at the start and at the end m_text is known to share with m_savedText
    // (at least): after a keystroke only the units in between are compared.
    mutable SharedEnds m_saved;
    // What m_text shares with the text of revision m_endsRevision (that of the last textChanged).
    quint64 m_endsRevision = 0;
    SharedEnds m_ends;

    // Raised whenever the document is replaced (another file, closed, renamed), so a save panel
    // that completes later can tell whether it still belongs to the open document.
    quint64 m_documentGeneration = 0;
    // Raised by every reload; only the latest scan may fill the tree.
    quint64 m_scanGeneration = 0;
    std::unique_ptr<LatestWorker> m_scans; // folder scans
    bool m_savePanelOpen = false;
};

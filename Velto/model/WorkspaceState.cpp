#include "Velto/model/WorkspaceState.h"

#include "Velto/model/DocumentAnalysis.h"
#include "Velto/model/FilePanels.h"
#include "Velto/model/HistoryStore.h"
#include "core/model/DocumentFile.h"
#include "core/model/TextMetrics.h"
#include "platform/AsyncQueue.h"
#include "platform/Defaults.h"
#include "platform/Detached.h"
#include "platform/L10n.h"
#include "platform/LatestWorker.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <memory>

namespace {

const QString productName = QStringLiteral("Velto");
const QString untitledName = QStringLiteral("Untitled.md");

QString fileNameOf(const QUrl &url)
{
    return QFileInfo(pathOf(url)).fileName();
}

} // namespace

WorkspaceState::WorkspaceState(QObject *parent)
    : WorkspaceState(Services {}, parent)
{
}

WorkspaceState::WorkspaceState(const Services &services, QObject *parent)
    : QObject(parent)
    , m_services(services)
    , m_scans(std::make_unique<LatestWorker>(this))
{
}

WorkspaceState::~WorkspaceState() = default;

HistoryStore &WorkspaceState::history() const
{
    Q_ASSERT_X(m_services.history, "WorkspaceState", "a workspace that records needs a history");
    return *m_services.history;
}

SessionRestore WorkspaceState::session() const
{
    Q_ASSERT_X(m_services.defaults, "WorkspaceState", "a workspace that restores needs a store");
    return SessionRestore(*m_services.defaults);
}

FilePanels &WorkspaceState::panels() const
{
    Q_ASSERT_X(m_services.panels, "WorkspaceState", "a workspace that asks needs file panels");
    return *m_services.panels;
}

// ---- stored fields

void WorkspaceState::setFolderURL(const std::optional<QUrl> &url)
{
    if (m_folderURL == url)
        return;
    m_folderURL = url;
    emit folderURLChanged();
}

void WorkspaceState::setFileTree(const QList<FileNode> &tree)
{
    const bool changed = m_fileTree != tree;
    m_fileTree = tree;
    if (changed)
        emit fileTreeChanged();
}

void WorkspaceState::setSelectedFileURL(const std::optional<QUrl> &url)
{
    if (m_selectedFileURL == url)
        return;
    m_selectedFileURL = url;
    ++m_documentGeneration;
    emit selectedFileURLChanged();
}

namespace {
// Stores `text` in `field` and raises `revision` unless the code units are the same; true when the
// text changed under canonical equivalence (a canonically equal text is stored without notice).
// One pass over a long text while it is being typed into: the code units are compared on their
// own only when the texts are canonically equal.
bool storeText(QString &field, quint64 &revision, const QString &text, qsizetype prefix = 0,
               qsizetype suffix = 0)
{
    const bool changed = !canonicallyEqual(field, text, prefix, suffix);
    if (!changed && field == text)
        return false;
    ++revision;
    field = text;
    return changed;
}
} // namespace

void WorkspaceState::setText(const QString &text)
{
    m_saved = {};
    m_ends = {};
    if (!storeText(m_text, m_textRevision, text))
        return;
    m_textWasEdited = false;
    announceText();
}

void WorkspaceState::announceText()
{
    emit textChanged();
    // The next change is compared with this text.
    m_endsRevision = m_textRevision;
    m_ends = {m_text.size(), m_text.size()};
}

void WorkspaceState::setText(const QString &text, qsizetype position, qsizetype removed,
                             qsizetype inserted)
{
    const qsizetype after = m_text.size() - position - removed; // units after the edit
    if (position < 0 || removed < 0 || inserted < 0 || after < 0
        || text.size() != position + inserted + after) {
        setText(text);
        return;
    }
    // The new text shares with the saved one at least what the old one did outside the edit.
    m_saved = m_saved.then({position, after});
    // Also a canonically equal change, stored without notice, counts for the next notice.
    const SharedEnds ends = m_ends.then({position, after});
    const quint64 revision = m_textRevision;
    const bool changed = storeText(m_text, m_textRevision, text, position, after);
    if (m_textRevision != revision)
        m_ends = ends;
    if (!changed)
        return;
    m_textWasEdited = false;
    announceText();
}

void WorkspaceState::editText(const QString &text)
{
    m_saved = {};
    m_ends = {};
    if (!storeText(m_text, m_textRevision, text))
        return;
    m_textWasEdited = true;
    announceText();
}

void WorkspaceState::setSavedText(const QString &text)
{
    m_saved = {};
    if (storeText(m_savedText, m_savedTextRevision, text))
        emit savedTextChanged();
}

void WorkspaceState::setCursorPosition(qint64 position)
{
    if (m_cursorPosition == position)
        return;
    m_cursorPosition = position;
    emit cursorPositionChanged();
}

void WorkspaceState::setRestoreCursorPosition(std::optional<qint64> position)
{
    if (m_restoreCursorPosition == position)
        return;
    m_restoreCursorPosition = position;
    emit restoreCursorPositionChanged();
}

void WorkspaceState::setExpandedFolderID(std::optional<QUuid> id)
{
    if (m_expandedFolderID == id)
        return;
    m_expandedFolderID = id;
    emit expandedFolderIDChanged();
}

void WorkspaceState::setRemoteEditGeneration(qint64 generation)
{
    if (m_remoteEditGeneration == generation)
        return;
    m_remoteEditGeneration = generation;
    emit remoteEditGenerationChanged();
}

// ---- derived values

bool WorkspaceState::isModified() const
{
    if (m_derived.textRevision != m_textRevision
        || m_derived.savedTextRevision != m_savedTextRevision) {
        m_derived.modified = !canonicallyEqual(m_text, m_savedText, m_saved.prefix, m_saved.suffix);
        m_derived.textRevision = m_textRevision;
        m_derived.savedTextRevision = m_savedTextRevision;
    }
    return m_derived.modified;
}

QString WorkspaceState::windowTitle() const
{
    if (!m_selectedFileURL)
        return productName;
    QString title = fileNameOf(*m_selectedFileURL);
    if (isModified())
        title += QStringLiteral(" \u2014 ") + L10n::text(QStringLiteral("content.edited"));
    return title;
}

WorkspaceState::TextCounts WorkspaceState::countsOf(const TextAnalysis &analysis)
{
    const QString &text = analysis.text();
    // No word or character runs across a line feed, so the lines parsed again since the base
    // (whose offsets start after a line feed) change the base's counts by their own. The base
    // must have its layout already: making one would parse the whole text here.
    const std::shared_ptr<const TextAnalysis> base = analysis.base();
    if (base && base->hasLayout()) {
        if (const auto earlier = base->made(&countsOf)) {
            if (const LocalReparse *local = analysis.localReparse()) {
                const QString before
                    = base->text().sliced(local->offset, local->oldEnd - local->offset);
                const QString after = text.sliced(
                    local->offset, local->oldEnd + local->offsetDelta - local->offset);
                return {earlier->words - TextMetrics::wordCount(before)
                            + TextMetrics::wordCount(after),
                        earlier->characters - TextMetrics::characterCount(before)
                            + TextMetrics::characterCount(after)};
            }
        }
    }
    return {TextMetrics::wordCount(text), TextMetrics::characterCount(text)};
}

WorkspaceState::TextCounts WorkspaceState::counts() const
{
    // The analysis belongs to the workspace but is made on first use, also by a reader.
    auto &analysis = DocumentAnalysis::of(const_cast<WorkspaceState &>(*this));
    return analysis.current()->derived(&countsOf);
}

qsizetype WorkspaceState::wordCount() const
{
    return counts().words;
}

qsizetype WorkspaceState::charCount() const
{
    return counts().characters;
}

QString WorkspaceState::readingTime() const
{
    return TextMetrics::readingTime(wordCount());
}

// ---- document operations

void WorkspaceState::showOpenPanel()
{
    QPointer<WorkspaceState> self(this);
    panels().chooseOpenItem(L10n::text(QStringLiteral("workspace.chooseFileOrFolder")),
                            [self](std::optional<QUrl> url) {
                                if (self && url)
                                    self->openChosenItem(*url);
                            });
}

void WorkspaceState::openChosenItem(const QUrl &url)
{
    const QString path = pathOf(url);
    const bool isDirectory = QFileInfo(path).isDir();
    if (!isDirectory) {
        runDetached(openChosenFile(url), QStringLiteral("Opening the chosen file"));
        return;
    }
    history().add(url, isDirectory);
    setFolderURL(url);
    reloadFileTree();
    session().setLastFolderPath(path);
    // Without a history entry (its bookmark could not be made) no row belongs to this folder;
    // keeping the previous id would show the new tree under another folder's row.
    std::optional<QUuid> id;
    for (const HistoryEntry &entry : history().entries()) {
        if (entry.path == path) {
            id = entry.id;
            break;
        }
    }
    setExpandedFolderID(id);
}

QCoro::Task<bool> WorkspaceState::openChosenFile(QUrl url)
{
    // Only a file that opened is remembered: a history entry that never opens helps nobody.
    QPointer<WorkspaceState> self(this);
    auto opening = openFile(url);
    const bool opened = co_await opening;
    if (!self)
        co_return false;
    if (opened) {
        history().add(url, false);
        co_return true;
    }
    // A cancelled save of the previous document needs no word; a file that is no text does.
    if (!DocumentFile::read(url))
        emit chosenFileUnreadable(url);
    co_return false;
}

bool WorkspaceState::openFolder(const QUuid &entryID)
{
    const auto url = history().startAccess(entryID);
    if (!url)
        return false;
    setFolderURL(*url);
    setExpandedFolderID(entryID);
    reloadFileTree();
    session().setLastFolderPath(pathOf(*url));
    return true;
}

void WorkspaceState::reloadFileTree()
{
    const quint64 generation = ++m_scanGeneration;
    if (!m_folderURL) {
        setFileTree({});
        emit fileTreeReloaded();
        return;
    }
    const QUrl folder = *m_folderURL;
    // The worker belongs to this workspace: its result always arrives through the event loop
    // on the main thread, and never once the workspace is gone.
    m_scans->submit([self = this, folder, generation]() -> LatestWorker::Finish {
        auto tree = std::make_shared<const QList<FileNode>>(FolderScan::scan(folder));
        return [self, generation, folder, tree] { self->applyScan(generation, folder, *tree); };
    });
}

void WorkspaceState::applyScan(quint64 generation, const QUrl &folder, const QList<FileNode> &tree)
{
    // A superseded scan, or one whose folder was closed or replaced meanwhile, must not fill the
    // tree of what is open now.
    if (generation != m_scanGeneration || m_folderURL != folder)
        return;
    setFileTree(tree);
    emit fileTreeReloaded();
}

QCoro::Task<bool> WorkspaceState::openFile(QUrl url)
{
    QPointer<WorkspaceState> self(this);
    if (isModified()) {
        auto saving = saveBeforeReplacing();
        const bool saved = co_await saving;
        if (!self || !saved)
            co_return false;
    }
    saveCursorPosition();
    const auto text = DocumentFile::read(url);
    if (!text)
        co_return false;
    const QString path = pathOf(url);
    ++m_documentGeneration;
    setText(*text);
    setSavedText(*text);
    setSelectedFileURL(url);
    SessionRestore session = this->session();
    setRestoreCursorPosition(session.cursorPosition(path));
    session.setLastFilePath(path);
    co_return true;
}

bool WorkspaceState::save()
{
    if (!m_selectedFileURL) {
        if (m_savePanelOpen)
            return false;
        runDetached(saveAs(), QStringLiteral("Saving under a new name"));
        return true;
    }
    const QUrl url = *m_selectedFileURL;
    if (!DocumentFile::write(url, m_text))
        return false;
    setSavedText(m_text);
    emit fileSaved(url);
    return true;
}

QCoro::Task<bool> WorkspaceState::saveAs()
{
    // One save panel per window: a second request while one is up is refused.
    if (m_savePanelOpen)
        co_return false;
    QPointer<WorkspaceState> self(this);
    const QString proposedName = m_selectedFileURL ? fileNameOf(*m_selectedFileURL) : untitledName;
    const QString snapshot = m_text;
    const quint64 generation = m_documentGeneration;
    FilePanels *filePanels = &panels();
    m_savePanelOpen = true;
    // The panel may answer at once or later; a later answer resumes this inside its call, so
    // the caller of the completion finds the save done. A second answer is ignored.
    AsyncQueue<std::optional<QUrl>> answer;
    filePanels->chooseSaveLocation(proposedName, answer.pusher());
    const std::optional<QUrl> chosen
        = (co_await answer.next(AsyncResume::immediately)).value_or(std::nullopt);
    if (!self)
        co_return false;
    m_savePanelOpen = false;
    if (!chosen)
        co_return false;
    // The document may have been replaced while the panel was up (another file opened, the
    // document closed or renamed): then the text the user asked to save goes to the chosen file
    // and the document that is open now stays as it is.
    const bool sameDocument = generation == m_documentGeneration;
    const QString content = sameDocument ? m_text : snapshot;
    if (!DocumentFile::write(*chosen, content))
        co_return false;
    if (sameDocument) {
        setSelectedFileURL(*chosen);
        setSavedText(content);
    }
    if (m_folderURL && isInside(pathOf(*chosen), pathOf(*m_folderURL)))
        reloadFileTree();
    co_return sameDocument;
}

QCoro::Task<bool> WorkspaceState::saveBeforeReplacing()
{
    if (m_selectedFileURL)
        co_return save();
    auto saving = saveAs();
    co_return co_await saving;
}

QCoro::Task<bool> WorkspaceState::closeFile()
{
    QPointer<WorkspaceState> self(this);
    if (isModified()) {
        auto saving = saveBeforeReplacing();
        const bool saved = co_await saving;
        if (!self || !saved)
            co_return false;
    }
    saveCursorPosition();
    ++m_documentGeneration;
    setText(QString());
    setSavedText(QString());
    setSelectedFileURL(std::nullopt);
    session().setLastFilePath(std::nullopt);
    co_return true;
}

void WorkspaceState::restoreSession()
{
    SessionRestore session = this->session();
    HistoryStore &history = this->history();
    if (const auto folderPath = session.lastFolderPath()) {
        for (const HistoryEntry &entry : history.entries()) {
            if (entry.path == *folderPath && entry.isDirectory) {
                if (history.existsStatus().value(entry.id, false))
                    openFolder(entry.id);
                break;
            }
        }
    }
    const auto filePath = session.lastFilePath();
    if (!filePath)
        return;
    for (const HistoryEntry &entry : history.entries()) {
        if (entry.path == *filePath && !entry.isDirectory) {
            if (history.existsStatus().value(entry.id, false)) {
                if (const auto url = history.startAccess(entry.id))
                    runDetached(openFile(*url), QStringLiteral("Reopening the last file"));
                return;
            }
            break;
        }
    }
    if (QFileInfo::exists(*filePath))
        runDetached(openFile(QUrl::fromLocalFile(*filePath)),
                    QStringLiteral("Reopening the last file"));
}

void WorkspaceState::saveCursorPosition()
{
    if (m_selectedFileURL)
        session().setCursorPosition(m_cursorPosition, pathOf(*m_selectedFileURL));
}

#include "Velto/editor/EditorController.h"

#include "Velto/editor/MarkdownHighlighter.h"
#include "Velto/editor/SoftBreaks.h"
#include "Velto/editor/VeltoTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/DocumentAnalysis.h"
#include "Velto/model/WorkspaceState.h"
#include "core/highlight/RunShift.h"
#include "core/highlight/SyntaxHighlighter.h"
#include "core/markdown/MarkdownDocument.h"
#include "platform/Graphemes.h"
#include "platform/LatestWorker.h"

#include <QScrollBar>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <limits>

namespace {

HighlightRuns styleRunsOf(const TextAnalysis &analysis)
{
    return SyntaxHighlighter::highlight(analysis, &styleRunsOf);
}

} // namespace

EditorController::EditorController(WorkspaceState &workspace, AppSettings &settings,
                                   VeltoTextView *view, QObject *parent)
    : QObject(parent)
    , m_workspace(&workspace)
    , m_settings(settings)
    , m_view(view)
    // One thread: two parses at once slow each other down more than waiting for the one
    // running costs.
    , m_analysis(&DocumentAnalysis::of(workspace))
    , m_worker(std::make_unique<LatestWorker>(this))
{
    QTextDocument *doc = view->document();
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setUndoRedoEnabled(true);
    doc->setDocumentMargin(16);

    // The mirror must see every change before the highlighter restyles the edited blocks, so it is
    // connected first.
    connect(doc, &QTextDocument::contentsChange, this, &EditorController::onContentsChange);
    m_highlighter = new MarkdownHighlighter(this);

    const EditorTheme &theme = settings.currentTheme();
    applyTheme(theme.editorText.color(), theme.editorBg.color());
    m_lastThemeID = settings.themeID();
    const QFont font = settings.editorFont();
    view->setFont(font);
    m_lastFont = font;
    m_highlighter->attach(doc);
    m_highlighter->setVisibleBlocks([this] {
        return m_view ? m_view->visibleBlocks() : std::pair {0, std::numeric_limits<int>::max()};
    });
    view->setBeforePaint(
        [this](int first, int last) { m_highlighter->restyleDeferred(first, last); });

    m_lastRemoteGeneration = workspace.remoteEditGeneration();
    replaceText(workspace.text());
    placeCaret(0);
    connect(m_analysis, &DocumentAnalysis::ready, this, &EditorController::analysisReady);

    connect(&workspace, &WorkspaceState::textChanged, this,
            &EditorController::onWorkspaceTextChanged);
    connect(&workspace, &WorkspaceState::remoteEditGenerationChanged, this,
            &EditorController::scheduleSync);
    connect(&workspace, &WorkspaceState::restoreCursorPositionChanged, this,
            &EditorController::scheduleSync);
    connect(&settings, &AppSettings::themeIDChanged, this, &EditorController::scheduleSync);
    connect(&settings, &AppSettings::fontNameChanged, this, &EditorController::scheduleSync);
    connect(&settings, &AppSettings::fontSizeChanged, this, &EditorController::scheduleSync);

    // AI actions get the document's own text of the selection: CR LF, lone CR, U+2029 as written.
    view->setSelectionTextSource([this](int start, int end) {
        const qint64 from = workspaceOffset(start);
        return m_workspaceText.mid(from, workspaceOffset(end) - from);
    });

    connect(view, &QPlainTextEdit::cursorPositionChanged, this, &EditorController::reportCursor);
    connect(view, &QPlainTextEdit::selectionChanged, this, &EditorController::reportCursor);
    connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &EditorController::reportVisibleLine);
    connect(view->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            &EditorController::reportVisibleLine);
    // Scrolls that move the view by itself (keyboard navigation, cursor kept visible) set the
    // scroll bar with its signals blocked; the repaint request they all end in still comes.
    connect(view, &QPlainTextEdit::updateRequest, this, [this](const QRect &, int dy) {
        if (dy != 0)
            reportVisibleLine();
    });
}

EditorController::~EditorController()
{
    if (m_analysis)
        m_analysis->setPreparation(this, {});
    m_highlighter->setVisibleBlocks({});
    if (m_view) {
        m_view->setSelectionTextSource({});
        m_view->setBeforePaint({});
    }
}

// ---- edits in the view

QString EditorController::documentText(int from, int to) const
{
    if (to <= from)
        return {};
    QTextCursor cursor(m_view->document());
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void EditorController::onContentsChange(int position, int removed, int added)
{
    if (!m_view || m_marking)
        return;
    QTextDocument *doc = m_view->document();
    const int length = doc->characterCount() - 1;
    std::optional<TextEditSpan> span;

    if (!m_applying) {
        // The reported counts can reach past the text (the document's final block break); the
        // true change follows from the lengths before and after.
        const bool identity = m_mapping.isIdentity();
        const QString &viewText = editorText();
        const qsizetype oldLength = viewText.size();
        qsizetype from = position;
        qsizetype gone = std::min<qsizetype>(removed, oldLength - position);
        qsizetype come = length - (oldLength - gone);
        if (from < 0 || from > oldLength || gone < 0 || come < 0 || from + come > length) {
            // Out of step, which Qt's reports do not cause: compare the whole texts instead.
            from = 0;
            gone = oldLength;
            come = length;
        }
        const QString removedText = viewText.mid(from, gone);
        const QString insertedText = documentText(int(from), int(from + come));
        span = editSpan(from, removedText, insertedText);
        const std::vector<qsizetype> soft = softBreaksIn(from, insertedText);
        EditorTextMapping::Edit edit;
        if (identity) {
            // The view's text is the workspace text: what follows the edit is still in place there.
            edit = m_mapping.mirrorEditorEdit(from, removedText, insertedText,
                                              QStringView(m_workspaceText).mid(from + gone), soft);
            if (!m_mapping.isIdentity()) {
                // A line break is mapped now: from here on the view's text is a copy of its own.
                m_editorText = m_workspaceText;
                m_editorText.replace(from, gone, insertedText);
            }
        } else {
            m_editorText.replace(from, gone, insertedText);
            edit = m_mapping.mirrorEditorEdit(
                from, removedText, insertedText,
                QStringView(m_editorText).mid(from + insertedText.size()), soft);
            if (m_mapping.isIdentity())
                m_editorText = QString();
        }
        if (!edit.isEmpty()) {
            // The workspace holds the text before this edit (the same data): it compares only
            // the edited part with it.
            const bool inStep = m_workspace && m_workspace->text().size() == m_workspaceText.size()
                && m_workspace->text().constData() == m_workspaceText.constData();
            m_textBuffers.replace(m_workspaceText, edit.position, edit.removed, edit.text);
            // While an outside change waits for sync() the workspace keeps it; sync() then
            // brings the view back in step with it.
            if (!m_externalPending && m_workspace) {
                m_pushing = true;
                if (inStep)
                    m_workspace->setText(m_workspaceText, edit.position, edit.removed,
                                         edit.text.size());
                else
                    m_workspace->setText(m_workspaceText);
                m_pushing = false;
            }
        }
    }

    // A replacement first empties the document; restyle once it holds the new text.
    if (length != editorText().size())
        return;
    ++m_revision;
    // A long new text too is styled when its parse lands: the view shows it at once rather than
    // holding the window (and the preview's first look) for the parse.
    if (length < backgroundParseSize) {
        m_highlighter->setRuns(computeRuns(), position, removed, added);
        m_highlightCurrent = true;
    } else {
        // The edited lines keep the styles they had until this revision's parse lands.
        m_highlighter->moveRuns(span ? *span : appliedSpan(position, added, length), position,
                                removed, added);
        m_highlightCurrent = false;
    }
    m_styledBlocks = doc->blockCount();
    m_styledLength = length;
    updatePreparation();
    if (m_highlightCurrent) {
        ++m_highlightCount;
        emit highlightApplied();
    } else {
        requestHighlight();
    }
}

TextEditSpan EditorController::editSpan(qsizetype from, QStringView removed,
                                        QStringView inserted) const
{
    TextEditSpan span;
    const QTextBlock block = m_view->document()->findBlock(int(from));
    span.firstLine = block.blockNumber();
    span.column = from - block.position();
    auto end = [&span](QStringView part, qsizetype &line, qsizetype &column) {
        const qsizetype breaks = part.count(u'\n');
        line = span.firstLine + breaks;
        column
            = breaks == 0 ? span.column + part.size() : part.size() - part.lastIndexOf(u'\n') - 1;
    };
    end(removed, span.removedEndLine, span.removedEndColumn);
    end(inserted, span.insertedEndLine, span.insertedEndColumn);
    return span;
}

TextEditSpan EditorController::appliedSpan(int position, int added, int length) const
{
    // An edit the controller made itself (a change from another device): what it removed is no
    // longer at hand, so the span follows from where the inserted text ends and how the line
    // count and length changed.
    const QTextDocument *doc = m_view->document();
    TextEditSpan span;
    const QTextBlock block = doc->findBlock(position);
    span.firstLine = block.blockNumber();
    span.column = position - block.position();
    const int end = std::min(position + added, length);
    const QTextBlock endBlock = doc->findBlock(end);
    span.insertedEndLine = endBlock.blockNumber();
    span.insertedEndColumn = end - endBlock.position();
    const int lineShift = doc->blockCount() - m_styledBlocks;
    span.removedEndLine = std::max<qsizetype>(span.firstLine, span.insertedEndLine - lineShift);
    span.removedEndColumn = lineShift == 0
        ? std::max<qsizetype>(span.column, span.insertedEndColumn - (length - m_styledLength))
        : span.insertedEndColumn;
    return span;
}

HighlightRuns EditorController::runsFor(const QString &editorText,
                                        const std::vector<qint64> &softBreaks)
{
    if (softBreaks.empty())
        return SyntaxHighlighter::highlight(*MarkdownDocument::parse(editorText));
    // Split lines are parsed whole and their styles split as the view shows them.
    const EditorTextMapping::Joined joined
        = EditorTextMapping::joinSoftBreaks(editorText, softBreaks);
    return splitLines(SyntaxHighlighter::highlight(*MarkdownDocument::parse(joined.text)),
                      joined.splits);
}

std::shared_ptr<const TextAnalysis> EditorController::sharedAnalysis() const
{
    // Without mapped line breaks the view shows exactly the workspace text; while an outside
    // change waits for sync() the workspace holds another one.
    if (!m_analysis || !m_mapping.isIdentity())
        return nullptr;
    std::shared_ptr<const TextAnalysis> analysis = m_analysis->current();
    return analysis->isOf(m_workspaceText) ? analysis : nullptr;
}

HighlightRuns EditorController::computeRuns()
{
    if (const std::shared_ptr<const TextAnalysis> analysis = sharedAnalysis())
        return analysis->derived(&styleRunsOf);
    return runsFor(editorText(), m_mapping.softBreaks());
}

void EditorController::updatePreparation()
{
    const bool preparing = m_mapping.isIdentity();
    if (preparing == m_preparing || !m_analysis)
        return;
    m_preparing = preparing;
    m_analysis->setPreparation(this,
                               preparing
                                   ? DocumentAnalysis::Prepare([](const TextAnalysis &analysis) {
                                         analysis.derived(&styleRunsOf);
                                     })
                                   : DocumentAnalysis::Prepare());
}

void EditorController::analysisReady()
{
    // During the controller's own write the edit is not yet restyled; it takes the analysis
    // itself once the view is in step.
    if (m_pushing || m_highlightCurrent || !m_view)
        return;
    const std::shared_ptr<const TextAnalysis> analysis = sharedAnalysis();
    if (!analysis || !analysis->has(&styleRunsOf))
        return;
    // Made from an earlier revision by re-parsing some lines, the runs share the others'
    // chunks with those shown: only the re-parsed lines and those edited since are compared.
    m_highlighter->setRuns(analysis->derived(&styleRunsOf));
    m_highlightCurrent = true;
    ++m_highlightCount;
    emit highlightApplied();
}

void EditorController::requestHighlight()
{
    // The workspace's analysis makes the styles of its text; ready() brings them, or brought
    // them already when the workspace held the text before the view (a change from another
    // device).
    if (sharedAnalysis()) {
        if (m_analysis->isReady())
            analysisReady();
        return;
    }
    const quint64 revision = m_revision;
    const QString editorText = this->editorText();
    const std::vector<qint64> softBreaks = m_mapping.softBreaks();
    m_worker->submit([this, revision, editorText, softBreaks]() -> LatestWorker::Finish {
        auto runs = std::make_shared<HighlightRuns>(runsFor(editorText, softBreaks));
        // A newer text has been handed in: these styles could never be shown.
        if (LatestWorker::isSuperseded())
            return {};
        return [this, revision, runs] { highlightLanded(revision, std::move(*runs)); };
    });
}

std::vector<qsizetype> EditorController::softBreaksIn(qsizetype from, QStringView inserted) const
{
    std::vector<qsizetype> soft;
    qsizetype feed = inserted.indexOf(u'\n');
    if (feed < 0)
        return soft;
    QTextBlock block = m_view->document()->findBlock(int(from + feed + 1));
    for (; feed >= 0 && block.isValid(); feed = inserted.indexOf(u'\n', feed + 1)) {
        // The block that starts after this break.
        while (block.isValid() && block.position() < from + feed + 1)
            block = block.next();
        if (softbreaks::continuesLine(block))
            soft.push_back(feed);
    }
    return soft;
}

void EditorController::markSoftBreak(QTextCursor &cursor, qint64 at)
{
    cursor.setPosition(int(at));
    cursor.setPosition(int(at + 1), QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(softbreaks::markFormat());
}

void EditorController::highlightLanded(quint64 revision, HighlightRuns runs)
{
    // Only the parse of the text the view holds now may style it; an older one is on its way
    // out, since the newest text has been handed to the worker after it.
    if (revision != m_revision || !m_view)
        return;
    m_highlighter->setRuns(std::move(runs));
    m_highlightCurrent = true;
    ++m_highlightCount;
    emit highlightApplied();
}

// ---- changes from outside

void EditorController::onWorkspaceTextChanged()
{
    if (m_pushing)
        return;
    m_externalPending = true;
    scheduleSync();
}

void EditorController::scheduleSync()
{
    m_syncPost.post();
}

void EditorController::setScrollToLine(std::optional<qint64> line)
{
    if (line == m_scrollToLine)
        return;
    m_scrollToLine = line;
    emit scrollToLineChanged();
    if (line)
        scheduleSync();
}

void EditorController::sync()
{
    m_syncPost.cancel();
    if (!m_view || !m_workspace)
        return;
    m_externalPending = false;

    const QString text = m_workspace->text();
    const bool textEqual = text == m_workspaceText;
    const QFont font = m_settings.editorFont();
    const bool fontEqual = m_lastFont && *m_lastFont == font;
    const EditorTheme &theme = m_settings.currentTheme();
    const QColor textColor = theme.editorText.color();
    const QColor background = theme.editorBg.color();
    const bool themeEqual = m_lastThemeID && *m_lastThemeID == m_settings.themeID()
        && textColor == m_lastText && background == m_lastBackground;
    const qint64 generation = m_workspace->remoteEditGeneration();
    const bool remote = generation != m_lastRemoteGeneration;
    m_lastRemoteGeneration = generation;

    // Remote and chat edits go in place, as one undo step that keeps caret and scroll position.
    const bool inPlace = remote || m_workspace->textWasEdited();
    if (!textEqual) {
        if (inPlace)
            applyRemoteEdit(text);
        else
            replaceText(text);
    }
    if (!themeEqual) {
        applyTheme(textColor, background);
        m_lastThemeID = m_settings.themeID();
    }
    if (!fontEqual) {
        // Bold and italic runs only add a trait, so they take the new font with the document.
        m_view->setFont(font);
        m_lastFont = font;
    }

    if (!textEqual && !inPlace) {
        const std::optional<qint64> restore = m_workspace->restoreCursorPosition();
        if (!restore) {
            placeCaret(0);
            m_view->verticalScrollBar()->setValue(0);
        } else {
            placeCaret(editorPosition(*restore));
            m_view->ensureCursorVisible();
            QMetaObject::invokeMethod(
                this,
                [this, restore] {
                    if (m_workspace && m_workspace->restoreCursorPosition() == restore)
                        m_workspace->setRestoreCursorPosition(std::nullopt);
                },
                Qt::QueuedConnection);
        }
    }

    if (const std::optional<qint64> line = m_scrollToLine) {
        placeCaret(editorPosition(lineStartOffset(*line, m_workspaceText)));
        m_view->ensureCursorVisible();
        QMetaObject::invokeMethod(
            this,
            [this, line] {
                if (m_scrollToLine == line) {
                    m_scrollToLine.reset();
                    emit scrollToLineChanged();
                }
            },
            Qt::QueuedConnection);
    }
}

void EditorController::replaceText(const QString &text)
{
    m_workspaceText = text;
    m_textBuffers.prepare(text.size());
    m_editorText = m_mapping.reset(text);
    if (m_mapping.isIdentity()) {
        m_editorText = QString(); // the view shows the workspace text itself
    } else if (m_editorText.size() >= backgroundParseSize) {
        // The view's copy is edited in place from the first keystroke on: a long text's own
        // copy, with room to grow, is made here rather than by that keystroke.
        m_editorText.reserve(m_editorText.size() + 64 * 1024);
    }
    m_applying = true;
    m_replacing = true;
    m_view->setPlainText(editorText());
    if (m_mapping.hasSoftBreaks()) {
        // Not an edit of the user's: it goes into no undo step, and the text stays as it is.
        QTextDocument *doc = m_view->document();
        doc->setUndoRedoEnabled(false);
        m_marking = true;
        QTextCursor cursor(doc);
        cursor.beginEditBlock();
        for (const qint64 at : m_mapping.softBreaks())
            markSoftBreak(cursor, at);
        cursor.endEditBlock();
        m_marking = false;
        doc->setUndoRedoEnabled(true);
    }
    m_replacing = false;
    m_applying = false;
    updatePreparation();
}

void EditorController::applyRemoteEdit(const QString &text)
{
    const bool identity = m_mapping.isIdentity();
    const std::vector<EditorTextMapping::Edit> edits
        = m_mapping.applyWorkspaceChange(m_workspaceText, text);
    if (m_mapping.isIdentity()) {
        m_editorText = QString(); // the view shows the workspace text itself
    } else {
        if (identity)
            m_editorText = m_workspaceText; // a line break is mapped now: a copy of its own
        for (const EditorTextMapping::Edit &edit : edits)
            m_editorText.replace(edit.position, edit.removed, edit.text);
    }
    m_workspaceText = text;
    if (edits.empty())
        return;

    // Keep the line at the top of the view where it is, also when lines came or went above it.
    QTextDocument *doc = m_view->document();
    QScrollBar *bar = m_view->verticalScrollBar();
    const QTextBlock top = doc->findBlockByLineNumber(bar->value());
    const int lineInBlock = top.isValid() ? bar->value() - top.firstLineNumber() : 0;
    QTextCursor topAnchor(doc);
    if (top.isValid())
        topAnchor.setPosition(top.position());

    // One edit block: one undo step, one change for the highlighter. The edits run from the end
    // of the text backwards, so each one's offsets are still valid when it is made.
    m_applying = true;
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    for (const EditorTextMapping::Edit &edit : edits) {
        cursor.setPosition(int(edit.position));
        cursor.setPosition(int(edit.position + edit.removed), QTextCursor::KeepAnchor);
        if (edit.text.isEmpty())
            cursor.removeSelectedText();
        else
            cursor.insertText(edit.text);
        for (const qsizetype at : edit.softBreaks)
            markSoftBreak(cursor, edit.position + at);
    }
    cursor.endEditBlock();
    m_applying = false;

    if (top.isValid())
        bar->setValue(topAnchor.block().firstLineNumber() + lineInBlock);
}

void EditorController::applyTheme(const QColor &text, const QColor &background)
{
    m_lastText = text;
    m_lastBackground = background;
    QPalette palette = m_view->palette();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Text, text); // also the caret
    m_view->setPalette(palette);
    m_highlighter->setColors(HighlightColors::forTheme(text, background));
}

void EditorController::placeCaret(int position)
{
    QTextCursor cursor(m_view->document());
    cursor.setPosition(position);
    m_view->setTextCursor(cursor);
}

// ---- offsets and reports

qint64 EditorController::lineStartOffset(qint64 line, QStringView text)
{
    if (line == 1)
        return 0;
    if (line < 1)
        return text.size();
    qint64 feeds = 0;
    const char16_t *units = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (units[i] == u'\n' && ++feeds == line - 1)
            return i + 1;
    }
    return text.size();
}

qint64 EditorController::workspaceOffset(int editorPosition) const
{
    return m_mapping.toWorkspace(editorPosition);
}

int EditorController::editorPosition(qint64 workspaceOffset) const
{
    // A remembered or remote caret may point into a Character (between a base and its mark, into
    // a flag or a surrogate pair); it goes to that Character's start.
    const qint64 clamped = graphemes::clusterStart(
        m_workspaceText, std::clamp<qint64>(workspaceOffset, 0, m_workspaceText.size()));
    const int length = m_view->document()->characterCount() - 1;
    return int(std::clamp<qint64>(m_mapping.toEditor(clamped), 0, length));
}

void EditorController::reportCursor()
{
    if (m_onCursorChange && m_view)
        m_onCursorChange(workspaceOffset(m_view->textCursor().selectionStart()));
}

void EditorController::reportVisibleLine()
{
    if (!m_view || m_view->verticalScrollBar()->maximum() <= 0)
        return; // the whole text fits
    const qint64 line = topLine();
    if (line == m_lastReportedLine)
        return;
    m_lastReportedLine = line;
    if (m_onVisibleLineChange)
        m_onVisibleLineChange(line);
}

qint64 EditorController::topLine() const
{
    // The source line that starts the paragraph at the top of the view, measured from the
    // layout: an estimate over the scroll range drifts by hundreds of lines in a long text whose
    // paragraphs wrap to different heights.
    const QTextBlock top = m_view->cursorForPosition(QPoint(0, 0)).block();
    if (!m_mapping.hasSoftBreaks())
        return top.blockNumber() + 1; // every paragraph of the view is one line of the text
    const qint64 offset = workspaceOffset(top.position());
    return 1 + QStringView(m_workspaceText).left(offset).count(u'\n');
}

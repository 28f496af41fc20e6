#include "Velto/editor/VeltoTextView.h"

#include "Velto/editor/EditorDocumentLayout.h"
#include "Velto/editor/EditorScrollBar.h"
#include "Velto/editor/FileDrops.h"
#include "Velto/editor/FindBar.h"
#include "Velto/editor/LongBlockLayout.h"
#include "Velto/editor/SoftBreaks.h"
#include "platform/Icons.h"
#include "platform/Text.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <utility>

VeltoTextView::VeltoTextView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    // As the view sets up a document of its own, with the editor's layout.
    auto *doc = new QTextDocument(this);
    doc->setDocumentLayout(new EditorDocumentLayout(doc));
    doc->setTextWidth(-1);
    doc->documentLayout()->setPaintDevice(viewport());
    doc->setDefaultFont(font());
    setDocument(doc);
    setAcceptDrops(true);
    setVerticalScrollBar(new EditorScrollBar(this));
    new LongBlockLayout(this);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            &VeltoTextView::placeInlinePrompt);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this,
            &VeltoTextView::placeInlinePrompt);
    // In an empty block after a soft break, typed text would take that break's format, and a
    // line break typed after it would count as a soft one.
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        const QTextCursor cursor = textCursor();
        if (!cursor.hasSelection() && cursor.block().length() == 1
            && softbreaks::continuesLine(cursor.block()))
            setCurrentCharFormat(QTextCharFormat());
    });
}

VeltoTextView::~VeltoTextView() = default;

void VeltoTextView::setFindBar(FindBar *bar)
{
    m_findBar = bar;
    if (bar)
        bar->setEditor(this);
}

const QSet<QString> &VeltoTextView::imageExtensions()
{
    return filedrops::imageExtensions();
}

QLineEdit *VeltoTextView::promptField() const
{
    return m_prompt ? m_prompt->field() : nullptr;
}

// ---- key commands

void VeltoTextView::perform(EditorKeyAction action)
{
    switch (action) {
    case EditorKeyAction::bold:
        toggleWrap(QStringLiteral("**"), QStringLiteral("**"));
        break;
    case EditorKeyAction::italic:
        toggleWrap(QStringLiteral("*"), QStringLiteral("*"));
        break;
    case EditorKeyAction::link:
        insertLink();
        break;
    case EditorKeyAction::prompt:
        showInlinePrompt();
        break;
    case EditorKeyAction::find:
        performTextFinderAction(TextFinderAction::showFindInterface);
        break;
    case EditorKeyAction::findNext:
        performTextFinderAction(TextFinderAction::nextMatch);
        break;
    case EditorKeyAction::findPrevious:
        performTextFinderAction(TextFinderAction::previousMatch);
        break;
    case EditorKeyAction::replace:
        performTextFinderAction(TextFinderAction::showReplaceInterface);
        break;
    }
}

std::optional<TypeAheadBuffer::Key> VeltoTextView::typeAheadKey(const QKeyEvent *event) const
{
    if (isReadOnly() || overwriteMode())
        return std::nullopt;
    auto key = TypeAheadBuffer::keyFor(event);
    if (!key || !m_typeAhead.isEmpty())
        return key;
    const QTextCursor cursor = textCursor();
    if (cursor.hasSelection() || cursor.block().length() <= LongBlockLayout::cachedBlockLength)
        return std::nullopt;
    return key;
}

void VeltoTextView::flushTypeAhead()
{
    m_typeAheadFlush.cancel();
    if (m_typeAhead.isEmpty())
        return;
    QTextCursor cursor = textCursor();
    m_typeAhead.applyTo(cursor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void VeltoTextView::flushTypeAheadBefore(const QEvent *event)
{
    if (m_typeAhead.isEmpty())
        return;
    const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
    if (key ? !typeAheadKey(static_cast<const QKeyEvent *>(event))
            : TypeAheadBuffer::isInterruptedBy(event->type()))
        flushTypeAhead();
}

bool VeltoTextView::viewportEvent(QEvent *event)
{
    flushTypeAheadBefore(event);
    return QPlainTextEdit::viewportEvent(event);
}

bool VeltoTextView::event(QEvent *event)
{
    flushTypeAheadBefore(event);
    // Claim our keys before window and menu shortcuts see them.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (editorKeyAction(key) || (key->key() == Qt::Key_Escape && m_prompt)) {
            event->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

void VeltoTextView::keyPressEvent(QKeyEvent *event)
{
    if (const auto action = editorKeyAction(event)) {
        perform(*action);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && m_prompt) {
        dismissInlinePrompt();
        event->accept();
        return;
    }
    if (m_typeAhead.isEmpty())
        stepOverSoftBreak(event);
    if (auto key = typeAheadKey(event)) {
        m_typeAhead.push(std::move(*key));
        m_typeAheadFlush.post();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

std::pair<int, int> VeltoTextView::visibleBlocks() const
{
    const int first = firstVisibleBlock().blockNumber();
    const int last = cursorForPosition(QPoint(0, viewport()->height())).blockNumber();
    return {first, std::max(first, last)};
}

void VeltoTextView::paintEvent(QPaintEvent *event)
{
    if (m_beforePaint) {
        const auto [first, last] = visibleBlocks();
        m_beforePaint(first, last);
    }
    QPlainTextEdit::paintEvent(event);
}

void VeltoTextView::stepOverSoftBreak(const QKeyEvent *event)
{
    // A soft break is no character of the text: deleting or moving over one goes on to the
    // character beyond it.
    const int key = event->key();
    const bool backwards = key == Qt::Key_Backspace || key == Qt::Key_Left;
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right;
    if (!backwards && key != Qt::Key_Delete && key != Qt::Key_Right)
        return;
    const bool extend = arrow && event->modifiers().testFlag(Qt::ShiftModifier);
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection() && !extend)
        return;
    const int position = cursor.position();
    if (backwards ? !softbreaks::afterSoftBreak(document(), position)
                  : !softbreaks::beforeSoftBreak(document(), position))
        return;
    cursor.setPosition(backwards ? position - 1 : position + 1,
                       extend ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    setTextCursor(cursor);
}

QMimeData *VeltoTextView::createMimeDataFromSelection() const
{
    // Copied text has the lines of the text: soft breaks are left out.
    const QTextCursor cursor = textCursor();
    const auto text
        = softbreaks::lineText(document(), cursor.selectionStart(), cursor.selectionEnd());
    if (!text)
        return QPlainTextEdit::createMimeDataFromSelection();
    auto *mime = new QMimeData;
    mime->setText(*text);
    return mime;
}

bool VeltoTextView::performTextFinderAction(TextFinderAction action)
{
    if (!m_findBar)
        return false;
    switch (action) {
    case TextFinderAction::showFindInterface:
        m_findBar->showFind();
        break;
    case TextFinderAction::nextMatch:
        m_findBar->findNext();
        break;
    case TextFinderAction::previousMatch:
        m_findBar->findPrevious();
        break;
    case TextFinderAction::showReplaceInterface:
        m_findBar->showReplace();
        break;
    }
    return true;
}

// ---- edits

bool VeltoTextView::replaceRange(int start, int end, const QString &text)
{
    if (isReadOnly())
        return false;
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    if (text.isEmpty())
        cursor.removeSelectedText();
    else
        cursor.insertText(text);
    cursor.endEditBlock();
    return true;
}

void VeltoTextView::select(int start, int length)
{
    QTextCursor cursor(document());
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

QString VeltoTextView::selectedPlainText() const
{
    const QTextCursor cursor = textCursor();
    if (m_selectionText)
        return m_selectionText(cursor.selectionStart(), cursor.selectionEnd());
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void VeltoTextView::toggleWrap(const QString &prefix, const QString &suffix)
{
    const QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int length = cursor.selectionEnd() - start;
    // Raw text: block breaks come as U+2029, which insertText turns back into block breaks.
    const QString selected = cursor.selectedText();
    const int textLength = document()->characterCount() - 1;

    auto textAt = [this](int from, int count) {
        QString s;
        for (int i = from; i < from + count; ++i)
            s += document()->characterAt(i);
        return s;
    };
    const QString before = start >= prefix.size()
        ? textAt(start - int(prefix.size()), int(prefix.size()))
        : QString();
    const QString after = textLength >= start + length + suffix.size()
        ? textAt(start + length, int(suffix.size()))
        : QString();

    if (before == prefix && after == suffix) {
        const int from = start - int(prefix.size());
        if (replaceRange(from, start + length + int(suffix.size()), selected))
            select(from, int(selected.size()));
        return;
    }
    if (!replaceRange(start, start + length, prefix + selected + suffix))
        return;
    select(start + int(prefix.size()), length > 0 ? int(selected.size()) : 0);
}

void VeltoTextView::insertLink()
{
    const QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const QString selected = cursor.selectedText();
    if (!selected.isEmpty()) {
        if (replaceRange(start, cursor.selectionEnd(),
                         QStringLiteral("[") + selected + QStringLiteral("](url)")))
            select(start + int(selected.size()) + 3, 3);
        return;
    }
    if (replaceRange(start, cursor.selectionEnd(), QStringLiteral("[](url)")))
        select(start + 1, 0);
}

// ---- context menu and AI

QMenu *VeltoTextView::buildContextMenu()
{
    QMenu *menu = createStandardContextMenu();
    if (!menu)
        menu = new QMenu(this);
    const bool configured = m_aiConfigured && m_aiConfigured();
    if (!textCursor().hasSelection() || !configured)
        return menu;

    // In Qt a submenu's title is the text of its entry, so the entry reads "KI-Assistent".
    auto *submenu = new QMenu(QStringLiteral("KI-Assistent"), menu);
    submenu->setIcon(Icons::symbol(QStringLiteral("sparkles")));
    for (const AIAction action : AIActions::allCases()) {
        if (action == AIAction::custom)
            continue;
        QAction *item = submenu->addAction(Icons::symbol(AIActions::icon(action)),
                                           AIActions::toString(action));
        item->setData(QVariant::fromValue(action));
        connect(item, &QAction::triggered, this, [this, item] { handleAIMenuItem(item); });
    }
    submenu->addSeparator();
    QAction *custom = submenu->addAction(Icons::symbol(AIActions::icon(AIAction::custom)),
                                         QStringLiteral("Eigene Anweisung..."));
    connect(custom, &QAction::triggered, this, &VeltoTextView::handleCustomAIPrompt);

    const QList<QAction *> existing = menu->actions();
    QAction *separator = menu->insertSeparator(existing.isEmpty() ? nullptr : existing.first());
    menu->insertMenu(separator, submenu);
    return menu;
}

void VeltoTextView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = buildContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void VeltoTextView::handleAIMenuItem(QAction *item)
{
    if (!item || item->data().metaType() != QMetaType::fromType<AIAction>())
        return;
    const AIAction action = item->data().value<AIAction>();
    if (m_onAIAction)
        m_onAIAction(selectedPlainText(), action, std::nullopt);
}

void VeltoTextView::handleCustomAIPrompt()
{
    showInlinePrompt();
}

// ---- inline prompt

void VeltoTextView::showInlinePrompt()
{
    dismissInlinePrompt();
    const bool emptySelection = !textCursor().hasSelection();
    m_promptAnchorStart = textCursor().selectionStart();
    m_promptAnchorEnd = textCursor().selectionEnd();

    m_prompt = new InlinePrompt(!emptySelection, viewport());
    connect(m_prompt, &InlinePrompt::submitRequested, this, &VeltoTextView::submitInlinePrompt);
    connect(m_prompt, &InlinePrompt::dismissRequested, this, &VeltoTextView::dismissInlinePrompt);
    placeInlinePrompt();
    m_prompt->show();
    m_prompt->field()->setFocus(Qt::OtherFocusReason);
}

void VeltoTextView::placeInlinePrompt()
{
    if (!m_prompt)
        return;
    const int length = document()->characterCount() - 1;
    QTextCursor start(document());
    start.setPosition(std::clamp(m_promptAnchorStart, 0, length));
    QTextCursor end(document());
    end.setPosition(std::clamp(m_promptAnchorEnd, 0, length));
    QRect rect = cursorRect(start).united(cursorRect(end));
    // A selection over several lines covers them from their left edge.
    if (start.block() != end.block() || cursorRect(start).top() != cursorRect(end).top())
        rect.setLeft(int(contentOffset().x() + document()->documentMargin()));
    m_prompt->move(rect.left(), rect.bottom() + 1 + 4);
}

void VeltoTextView::submitInlinePrompt()
{
    if (!m_prompt)
        return;
    const QString instruction = trimmedSpacesAndTabs(m_prompt->field()->text());
    if (instruction.isEmpty()) {
        dismissInlinePrompt();
        return;
    }
    const QString selected = textCursor().hasSelection() ? selectedPlainText() : QString();
    dismissInlinePrompt();
    if (m_onAIAction)
        m_onAIAction(selected, AIAction::custom, instruction);
}

void VeltoTextView::dismissInlinePrompt()
{
    if (m_prompt) {
        // Closed is closed: keys still on their way to the field no longer reach this view.
        m_prompt->disconnect(this);
        m_prompt->hide();
        m_prompt->deleteLater();
    }
    m_prompt = nullptr;
    setFocus(Qt::OtherFocusReason);
}

void VeltoTextView::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    placeInlinePrompt();
}

// ---- middle-click paste

bool VeltoTextView::hasPastableData(const QMimeData *source)
{
    return source && !source->formats().isEmpty();
}

void VeltoTextView::mouseReleaseEvent(QMouseEvent *event)
{
    // While no program owns the X primary selection, the toolkit's middle-click paste reads a
    // selection without data and crashes, taking the unsaved text with it: such a paste is
    // nothing.
    if (event->button() == Qt::MiddleButton) {
        const QClipboard *clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection()
            && !hasPastableData(clipboard->mimeData(QClipboard::Selection))) {
            event->accept();
            return;
        }
    }
    QPlainTextEdit::mouseReleaseEvent(event);
}

bool VeltoTextView::canInsertFromMimeData(const QMimeData *source) const
{
    return hasPastableData(source) && QPlainTextEdit::canInsertFromMimeData(source);
}

void VeltoTextView::insertFromMimeData(const QMimeData *source)
{
    if (hasPastableData(source))
        QPlainTextEdit::insertFromMimeData(source);
}

// ---- file drops

QString VeltoTextView::markdownForFiles(const QList<QUrl> &fileUrls)
{
    return filedrops::markdownFor(fileUrls);
}

bool VeltoTextView::insertFileLinks(const QList<QUrl> &fileUrls)
{
    if (fileUrls.isEmpty())
        return false;
    const QTextCursor cursor = textCursor();
    return replaceRange(cursor.selectionStart(), cursor.selectionEnd(), markdownForFiles(fileUrls));
}

void VeltoTextView::dragEnterEvent(QDragEnterEvent *event)
{
    if (filedrops::localFileUrls(event->mimeData()).isEmpty()) {
        QPlainTextEdit::dragEnterEvent(event);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void VeltoTextView::dragMoveEvent(QDragMoveEvent *event)
{
    if (filedrops::localFileUrls(event->mimeData()).isEmpty()) {
        QPlainTextEdit::dragMoveEvent(event);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void VeltoTextView::dropEvent(QDropEvent *event)
{
    const QList<QUrl> files = filedrops::localFileUrls(event->mimeData());
    if (files.isEmpty()) {
        QPlainTextEdit::dropEvent(event);
        return;
    }
    if (insertFileLinks(files)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

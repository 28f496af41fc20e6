#include "Velto/editor/VeltoTextView.h"

#include "Velto/editor/EditorDocumentLayout.h"
#include "Velto/editor/FindBar.h"
#include "Velto/editor/LongBlockLayout.h"
#include "Velto/editor/SoftBreaks.h"
#include "platform/Icons.h"
#include "platform/L10n.h"
#include "platform/Text.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
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

namespace {

// X11 reports Caps Lock in the native modifiers (LockMask); other platforms do not report it.
bool capsLockOn(const QKeyEvent *event)
{
    return QGuiApplication::platformName() == QLatin1String("xcb")
        && (event->nativeModifiers() & 0x2) != 0;
}

} // namespace

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
    static const QSet<QString> extensions {
        QStringLiteral("png"), QStringLiteral("jpg"),  QStringLiteral("jpeg"),
        QStringLiteral("gif"), QStringLiteral("svg"),  QStringLiteral("webp"),
        QStringLiteral("bmp"), QStringLiteral("tiff"), QStringLiteral("ico")};
    return extensions;
}

// ---- key commands

std::optional<VeltoTextView::Command> VeltoTextView::commandFor(const QKeyEvent *event)
{
    if (event->key() == 0 || event->key() == Qt::Key_unknown || capsLockOn(event))
        return std::nullopt;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_B:
            return Command::bold;
        case Qt::Key_I:
            return Command::italic;
        case Qt::Key_K:
            return Command::link;
        case Qt::Key_J:
            return Command::prompt;
        case Qt::Key_F:
            return Command::find;
        case Qt::Key_G:
            return Command::findNext;
        default:
            return std::nullopt;
        }
    }
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_G)
        return Command::findPrevious;
    if (modifiers == (Qt::ControlModifier | Qt::AltModifier) && key == Qt::Key_F)
        return Command::replace;
    return std::nullopt;
}

void VeltoTextView::perform(Command command)
{
    switch (command) {
    case Command::bold:
        toggleWrap(QStringLiteral("**"), QStringLiteral("**"));
        break;
    case Command::italic:
        toggleWrap(QStringLiteral("*"), QStringLiteral("*"));
        break;
    case Command::link:
        insertLink();
        break;
    case Command::prompt:
        showInlinePrompt();
        break;
    case Command::find:
        performTextFinderAction(TextFinderAction::showFindInterface);
        break;
    case Command::findNext:
        performTextFinderAction(TextFinderAction::nextMatch);
        break;
    case Command::findPrevious:
        performTextFinderAction(TextFinderAction::previousMatch);
        break;
    case Command::replace:
        performTextFinderAction(TextFinderAction::showReplaceInterface);
        break;
    }
}

std::optional<VeltoTextView::TypedKey> VeltoTextView::typeAheadKey(const QKeyEvent *event) const
{
    if (isReadOnly() || overwriteMode())
        return std::nullopt;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    TypedKey key;
    if (modifiers == Qt::NoModifier && event->key() == Qt::Key_Backspace) {
        key.kind = TypedKey::deleteBefore;
    } else if (modifiers == Qt::NoModifier && event->key() == Qt::Key_Delete) {
        key.kind = TypedKey::deleteAfter;
    } else if (modifiers == Qt::NoModifier
               && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        key.kind = TypedKey::lineBreak;
    } else {
        if ((modifiers & ~Qt::ShiftModifier) != 0 || event->text().isEmpty())
            return std::nullopt;
        for (const QChar c : event->text()) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control)
                return std::nullopt;
        }
        key.text = event->text();
    }
    if (!m_typeAhead.empty())
        return key;
    const QTextCursor cursor = textCursor();
    if (cursor.hasSelection() || cursor.block().length() <= LongBlockLayout::cachedBlockLength)
        return std::nullopt;
    return key;
}

void VeltoTextView::flushTypeAhead()
{
    m_typeAheadScheduled = false;
    if (m_typeAhead.empty())
        return;
    const std::vector<TypedKey> keys = std::exchange(m_typeAhead, {});
    // The keys do to the cursor what the editor would have done with each; one edit block makes
    // them one change, laid out once.
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    for (const TypedKey &key : keys) {
        switch (key.kind) {
        case TypedKey::characters:
            cursor.insertText(key.text);
            break;
        case TypedKey::deleteBefore:
            if (softbreaks::afterSoftBreak(document(), cursor.position()))
                cursor.setPosition(cursor.position() - 1);
            cursor.deletePreviousChar();
            break;
        case TypedKey::deleteAfter:
            if (softbreaks::beforeSoftBreak(document(), cursor.position()))
                cursor.setPosition(cursor.position() + 1);
            cursor.deleteChar();
            break;
        case TypedKey::lineBreak:
            cursor.insertBlock();
            break;
        }
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

void VeltoTextView::flushTypeAheadBefore(const QEvent *event)
{
    if (m_typeAhead.empty())
        return;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
        if (typeAheadKey(static_cast<const QKeyEvent *>(event)))
            return;
        break;
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::FocusOut:
    case QEvent::Drop:
    case QEvent::ContextMenu:
        break;
    default:
        return;
    }
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
        if (commandFor(key) || (key->key() == Qt::Key_Escape && m_promptContainer)) {
            event->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

void VeltoTextView::keyPressEvent(QKeyEvent *event)
{
    if (const auto command = commandFor(event)) {
        perform(*command);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier
        && m_promptContainer) {
        dismissInlinePrompt();
        event->accept();
        return;
    }
    if (m_typeAhead.empty())
        stepOverSoftBreak(event);
    if (auto key = typeAheadKey(event)) {
        m_typeAhead.push_back(std::move(*key));
        if (!m_typeAheadScheduled) {
            m_typeAheadScheduled = true;
            QMetaObject::invokeMethod(this, &VeltoTextView::flushTypeAhead, Qt::QueuedConnection);
        }
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
    const QTextBlock first = document()->findBlock(cursor.selectionStart());
    const QTextBlock last = document()->findBlock(cursor.selectionEnd());
    bool soft = false;
    for (QTextBlock block = first; block.isValid() && block != last && !soft;) {
        block = block.next();
        soft = softbreaks::continuesLine(block);
    }
    if (!soft)
        return QPlainTextEdit::createMimeDataFromSelection();
    QString text;
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        if (block != first && !softbreaks::continuesLine(block))
            text.append(u'\n');
        const int from = std::max(0, cursor.selectionStart() - block.position());
        const int to = std::min(block.length() - 1, cursor.selectionEnd() - block.position());
        text.append(QStringView(block.text()).mid(from, to - from));
        if (block == last)
            break;
    }
    auto *mime = new QMimeData;
    mime->setText(text);
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

    auto *container = new QFrame(viewport());
    container->setObjectName(QStringLiteral("inlinePrompt"));
    container->resize(340, 32);
    container->setStyleSheet(QStringLiteral("QFrame#inlinePrompt { background: palette(base); "
                                            "border: 1px solid palette(highlight); "
                                            "border-radius: 8px; }"));
    auto *shadow = new QGraphicsDropShadowEffect(container);
    shadow->setColor(QColor(0, 0, 0, 38));
    shadow->setBlurRadius(8);
    shadow->setOffset(0, 0);
    container->setGraphicsEffect(shadow);

    auto *field = new QLineEdit(container);
    field->setGeometry(8, 4, 324, 24);
    field->setPlaceholderText(
        L10n::text(emptySelection ? QStringLiteral("editor.prompt.placeholder")
                                  : QStringLiteral("editor.prompt.placeholderSelection")));
    field->setFrame(false);
    field->setStyleSheet(QStringLiteral("QLineEdit { border: none; background: transparent; }"));
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    QFont font = QApplication::font();
    font.setPixelSize(13);
    field->setFont(font);
    // Return and Escape are taken in the event filter: QLineEdit lets Return travel on to its
    // parents, which would put a line break into the document.
    field->installEventFilter(this);

    m_promptContainer = container;
    m_promptField = field;
    placeInlinePrompt();
    container->show();
    field->setFocus(Qt::OtherFocusReason);
}

void VeltoTextView::placeInlinePrompt()
{
    if (!m_promptContainer)
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
    m_promptContainer->move(rect.left(), rect.bottom() + 1 + 4);
}

void VeltoTextView::submitInlinePrompt()
{
    if (!m_promptField)
        return;
    const QString instruction = trimmedSpacesAndTabs(m_promptField->text());
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
    if (m_promptContainer) {
        m_promptContainer->hide();
        m_promptContainer->deleteLater();
    }
    m_promptContainer = nullptr;
    m_promptField = nullptr;
    setFocus(Qt::OtherFocusReason);
}

bool VeltoTextView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_promptField && m_promptField
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const bool escape = key == Qt::Key_Escape;
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (escape || enter) {
            if (event->type() == QEvent::ShortcutOverride)
                event->accept();
            else if (escape)
                dismissInlinePrompt();
            else
                submitInlinePrompt();
            return true;
        }
    }
    return QPlainTextEdit::eventFilter(watched, event);
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

QList<QUrl> VeltoTextView::droppedFileUrls(const QMimeData *mime)
{
    QList<QUrl> files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

QString VeltoTextView::markdownForFiles(const QList<QUrl> &fileUrls)
{
    QStringList lines;
    for (const QUrl &url : fileUrls) {
        QString path = url.toLocalFile();
        // A folder's URL ends in "/", which would leave it without a name.
        while (path.size() > 1 && path.endsWith(u'/'))
            path.chop(1);
        const QFileInfo info(path);
        if (imageExtensions().contains(info.suffix().toLower()))
            lines.append(QStringLiteral("![") + info.completeBaseName() + QStringLiteral("](")
                         + path + u')');
        else
            lines.append(u'[' + info.fileName() + QStringLiteral("](") + path + u')');
    }
    return lines.join(u'\n');
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
    if (droppedFileUrls(event->mimeData()).isEmpty()) {
        QPlainTextEdit::dragEnterEvent(event);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void VeltoTextView::dragMoveEvent(QDragMoveEvent *event)
{
    if (droppedFileUrls(event->mimeData()).isEmpty()) {
        QPlainTextEdit::dragMoveEvent(event);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void VeltoTextView::dropEvent(QDropEvent *event)
{
    const QList<QUrl> files = droppedFileUrls(event->mimeData());
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

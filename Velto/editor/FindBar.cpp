#include "Velto/editor/FindBar.h"

#include "platform/L10n.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

FindBar::FindBar(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(8, 4, 8, 4);
    rows->setSpacing(4);

    auto *findRow = new QHBoxLayout;
    m_findField = new QLineEdit(this);
    m_findField->setPlaceholderText(L10n::text(QStringLiteral("editor.find.placeholder")));
    m_findField->setClearButtonEnabled(true);
    m_previousButton = new QToolButton(this);
    m_previousButton->setArrowType(Qt::UpArrow);
    m_previousButton->setToolTip(L10n::text(QStringLiteral("editor.find.previous")));
    m_nextButton = new QToolButton(this);
    m_nextButton->setArrowType(Qt::DownArrow);
    m_nextButton->setToolTip(L10n::text(QStringLiteral("editor.find.next")));
    m_doneButton = new QPushButton(L10n::text(QStringLiteral("editor.find.done")), this);
    findRow->addWidget(m_findField, 1);
    findRow->addWidget(m_previousButton);
    findRow->addWidget(m_nextButton);
    findRow->addWidget(m_doneButton);
    rows->addLayout(findRow);

    m_replaceRow = new QWidget(this);
    auto *replaceRow = new QHBoxLayout(m_replaceRow);
    replaceRow->setContentsMargins(0, 0, 0, 0);
    m_replaceField = new QLineEdit(m_replaceRow);
    m_replaceField->setPlaceholderText(L10n::text(QStringLiteral("editor.replace.placeholder")));
    m_replaceButton = new QPushButton(L10n::text(QStringLiteral("editor.replace")), m_replaceRow);
    m_replaceAllButton
        = new QPushButton(L10n::text(QStringLiteral("editor.replaceAll")), m_replaceRow);
    replaceRow->addWidget(m_replaceField, 1);
    replaceRow->addWidget(m_replaceButton);
    replaceRow->addWidget(m_replaceAllButton);
    rows->addWidget(m_replaceRow);

    connect(m_findField, &QLineEdit::textEdited, this, [this] {
        find(false, true);
        markMatches();
    });
    connect(m_previousButton, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(m_nextButton, &QToolButton::clicked, this, &FindBar::findNext);
    connect(m_doneButton, &QPushButton::clicked, this, &FindBar::dismiss);
    connect(m_replaceButton, &QPushButton::clicked, this, &FindBar::replaceCurrent);
    connect(m_replaceAllButton, &QPushButton::clicked, this, &FindBar::replaceAll);
    m_findField->installEventFilter(this);
    m_replaceField->installEventFilter(this);
    // Escape also leaves the bar from its buttons (a click on "Ersetzen" gives that button the
    // focus); the two fields take it in the event filter.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this, nullptr, nullptr,
                                 Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &FindBar::dismiss);

    m_replaceRow->hide();
    hide();
}

void FindBar::setEditor(QPlainTextEdit *editor)
{
    m_editor = editor;
}

bool FindBar::isReplaceShown() const
{
    return !isHidden() && !m_replaceRow->isHidden();
}

void FindBar::showFind()
{
    m_replaceRow->hide();
    show();
    m_findField->setFocus(Qt::ShortcutFocusReason);
    m_findField->selectAll();
    markMatches();
}

void FindBar::showReplace()
{
    m_replaceRow->show();
    show();
    m_findField->setFocus(Qt::ShortcutFocusReason);
    m_findField->selectAll();
    markMatches();
}

void FindBar::dismiss()
{
    hide();
    if (!m_editor)
        return;
    m_editor->setExtraSelections({});
    m_markedMatches = 0;
    m_editor->setFocus(Qt::OtherFocusReason);
}

bool FindBar::findNext()
{
    const bool found = find(false, false);
    markMatches();
    return found;
}

bool FindBar::findPrevious()
{
    const bool found = find(true, false);
    markMatches();
    return found;
}

bool FindBar::find(bool backward, bool fromSelectionStart)
{
    const QString needle = m_findField->text();
    if (!m_editor || needle.isEmpty())
        return false;
    QTextDocument *doc = m_editor->document();
    const QTextCursor current = m_editor->textCursor();
    QTextCursor from(doc);
    from.setPosition(backward || fromSelectionStart ? current.selectionStart()
                                                    : current.selectionEnd());
    const QTextDocument::FindFlags flags
        = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    QTextCursor found = doc->find(needle, from, flags);
    if (found.isNull()) {
        QTextCursor wrapped(doc);
        if (backward)
            wrapped.movePosition(QTextCursor::End);
        found = doc->find(needle, wrapped, flags);
    }
    if (found.isNull())
        return false;
    m_editor->setTextCursor(found);
    m_editor->ensureCursorVisible();
    return true;
}

bool FindBar::selectionIsMatch() const
{
    const QTextCursor cursor = m_editor->textCursor();
    return cursor.hasSelection()
        && cursor.selectedText().compare(m_findField->text(), Qt::CaseInsensitive) == 0;
}

bool FindBar::replaceCurrent()
{
    if (!m_editor || m_editor->isReadOnly() || m_findField->text().isEmpty())
        return false;
    bool replaced = false;
    if (selectionIsMatch()) {
        QTextCursor cursor = m_editor->textCursor();
        cursor.beginEditBlock();
        cursor.insertText(m_replaceField->text());
        cursor.endEditBlock();
        m_editor->setTextCursor(cursor);
        replaced = true;
    }
    find(false, false);
    markMatches();
    return replaced;
}

int FindBar::replaceAll()
{
    const QString needle = m_findField->text();
    if (!m_editor || m_editor->isReadOnly() || needle.isEmpty())
        return 0;
    QTextDocument *doc = m_editor->document();
    const QString replacement = m_replaceField->text();
    int count = 0;
    // One edit block: one undo step, one change for the bridge, the highlighter and the preview.
    QTextCursor block(doc);
    block.beginEditBlock();
    QTextCursor cursor(doc);
    while (true) {
        cursor = doc->find(needle, cursor);
        if (cursor.isNull())
            break;
        cursor.insertText(replacement);
        ++count;
    }
    block.endEditBlock();
    markMatches();
    return count;
}

void FindBar::markMatches()
{
    if (!m_editor)
        return;
    QList<QTextEdit::ExtraSelection> marks;
    const QString needle = m_findField->text();
    if (!isHidden() && !needle.isEmpty()) {
        QTextDocument *doc = m_editor->document();
        QColor color = m_editor->palette().color(QPalette::Highlight);
        color.setAlpha(70);
        QTextCharFormat format;
        format.setBackground(color);
        QTextCursor cursor(doc);
        while (marks.size() < maxMarkedMatches) {
            cursor = doc->find(needle, cursor);
            if (cursor.isNull())
                break;
            marks.append({cursor, format});
        }
    }
    m_markedMatches = int(marks.size());
    m_editor->setExtraSelections(marks);
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_findField || watched == m_replaceField)
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const bool escape = key->key() == Qt::Key_Escape && modifiers == Qt::NoModifier;
        const bool nextKey = key->key() == Qt::Key_G && modifiers == Qt::ControlModifier;
        const bool previousKey
            = key->key() == Qt::Key_G && modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
        if (!(enter || escape || nextKey || previousKey))
            return QFrame::eventFilter(watched, event);
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        if (escape)
            dismiss();
        else if (previousKey || (enter && watched == m_findField && modifiers == Qt::ShiftModifier))
            findPrevious();
        else if (enter && watched == m_replaceField)
            replaceCurrent();
        else
            findNext();
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

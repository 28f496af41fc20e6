#pragma once

#include "Velto/editor/EditorKeyActions.h"
#include "Velto/editor/FindBar.h"
#include "Velto/editor/InlinePrompt.h"
#include "Velto/editor/TypeAheadBuffer.h"
#include "core/ai/AIAction.h"
#include "platform/PostOnce.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <functional>
#include <optional>

class QMenu;

// The Markdown source editor: a plain text editor with formatting keys (Ctrl+B, Ctrl+I, Ctrl+K),
// the find and replace bar (Ctrl+F, Ctrl+G, Ctrl+Shift+G, Ctrl+Alt+F), an AI submenu in the
// context menu, an inline field for a free AI instruction (Ctrl+J) and file drops that become
// Markdown links and image references.
//
// Every change it makes is one edit block on the document: one undo step, one contentsChange,
// so it reaches the editor bridge exactly like typing. It never talks to the AI itself; it hands
// the selected text, the action and an optional instruction to onAIAction.
class VeltoTextView : public QPlainTextEdit
{
    Q_OBJECT

public:
    using AIActionHandler = std::function<void(const QString &selectedText, AIAction action,
                                               const std::optional<QString> &instruction)>;

    // The find bar's operations, numbered as the platform's text finder numbers them.
    enum class TextFinderAction {
        showFindInterface = 1,
        nextMatch = 2,
        previousMatch = 3,
        showReplaceInterface = 12,
    };

    explicit VeltoTextView(QWidget *parent = nullptr);
    ~VeltoTextView() override;

    void setOnAIAction(AIActionHandler handler) { m_onAIAction = std::move(handler); }
    const AIActionHandler &onAIAction() const { return m_onAIAction; }

    // The text handed to onAIAction for the selection [start, end) of the document. Unset, the
    // document's own text with its block breaks as line feeds; the editor controller hands the
    // workspace's text of the range instead, whose line breaks the document cannot hold.
    void setSelectionTextSource(std::function<QString(int start, int end)> source)
    {
        m_selectionText = std::move(source);
    }

    // Whether the AI submenu is offered, asked at every right click; without it, never.
    void setAIConfiguredCheck(std::function<bool()> check) { m_aiConfigured = std::move(check); }

    void setFindBar(FindBar *bar);
    FindBar *findBar() const { return m_findBar; }

    // The inline prompt's field and container; present exactly while the prompt is shown.
    QLineEdit *promptField() const;
    QFrame *promptContainer() const { return m_prompt; }

    // File name extensions, lower case, that a dropped file is shown as an image for.
    static const QSet<QString> &imageExtensions();
    // The Markdown for dropped files: one link or image reference per file, joined by "\n".
    static QString markdownForFiles(const QList<QUrl> &fileUrls);

    // The context menu for a right click: the AI submenu first when text is selected and the AI is
    // configured, then the standard entries. The caller owns the menu.
    QMenu *buildContextMenu();

    void handleAIMenuItem(QAction *item);
    void handleCustomAIPrompt();
    void showInlinePrompt();
    void submitInlinePrompt();
    void dismissInlinePrompt();

    // Wraps the selection in the markers, or unwraps it when the markers already surround it.
    void toggleWrap(const QString &prefix, const QString &suffix);
    // "[text](url)" around the selection with "url" selected, or "[](url)" with the caret
    // between the brackets.
    void insertLink();
    // Replaces the selection with links to the files; false when nothing was inserted.
    bool insertFileLinks(const QList<QUrl> &fileUrls);
    bool performTextFinderAction(TextFinderAction action);

    // The numbers of the first and the last block in view.
    std::pair<int, int> visibleBlocks() const;
    // Called before every paint with visibleBlocks(), to bring what is shown up to date.
    void setBeforePaint(std::function<void(int first, int last)> beforePaint)
    {
        m_beforePaint = std::move(beforePaint);
    }

    // Whether a paste source carries anything at all; a missing or empty one pastes nothing.
    static bool hasPastableData(const QMimeData *source);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    void perform(EditorKeyAction action);

    // Replaces [start, end) in one edit block; false when the view is read-only.
    bool replaceRange(int start, int end, const QString &text);
    void select(int start, int length);
    QString selectedPlainText() const;
    void placeInlinePrompt();

    // What the key adds to the held keys: once keys are held, any key the buffer holds; else
    // only one typed into a very long line without a selection. None in overwrite mode or
    // read-only.
    std::optional<TypeAheadBuffer::Key> typeAheadKey(const QKeyEvent *event) const;
    void flushTypeAhead();
    // Any input other than a held key puts the held keys in first, so the text keeps their order.
    void flushTypeAheadBefore(const QEvent *event);
    // Before a key deletes or moves over a soft break, moves the cursor past it.
    void stepOverSoftBreak(const QKeyEvent *event);

    AIActionHandler m_onAIAction;
    std::function<QString(int, int)> m_selectionText;
    std::function<bool()> m_aiConfigured;
    std::function<void(int, int)> m_beforePaint;
    QPointer<FindBar> m_findBar;
    QPointer<InlinePrompt> m_prompt;
    // The selection the prompt was opened for, to keep it placed below it while scrolling.
    int m_promptAnchorStart = 0;
    int m_promptAnchorEnd = 0;
    TypeAheadBuffer m_typeAhead;
    // The held keys go in once the events waiting now are handled.
    PostOnce m_typeAheadFlush {this, [this] { flushTypeAhead(); }};
};

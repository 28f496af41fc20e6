#pragma once

#include <QFrame>
#include <QPointer>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

// The editor's find and replace bar: incremental search as the user types, next and previous
// with wrap-around, replace and replace-all. The search ignores case. Every replacement is an
// edit of the document (undoable, seen by the editor bridge); Replace All is one edit block.
class FindBar : public QFrame
{
    Q_OBJECT

public:
    explicit FindBar(QWidget *parent = nullptr);

    void setEditor(QPlainTextEdit *editor);

    void showFind();
    void showReplace();
    void dismiss();

    // Select the next / previous match of the search text; false when there is none.
    bool findNext();
    bool findPrevious();
    // Replaces the selected match (if the selection is one) and moves to the next match.
    bool replaceCurrent();
    // Replaces every match in one undo step; returns how many.
    int replaceAll();

    QLineEdit *findField() const { return m_findField; }
    QLineEdit *replaceField() const { return m_replaceField; }
    bool isReplaceShown() const;
    // Matches marked in the editor (at most maxMarkedMatches).
    int markedMatchCount() const { return m_markedMatches; }

    static constexpr int maxMarkedMatches = 1000;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool find(bool backward, bool fromSelectionStart);
    void markMatches();
    bool selectionIsMatch() const;

    QPointer<QPlainTextEdit> m_editor;
    QLineEdit *m_findField = nullptr;
    QLineEdit *m_replaceField = nullptr;
    QWidget *m_replaceRow = nullptr;
    QToolButton *m_previousButton = nullptr;
    QToolButton *m_nextButton = nullptr;
    QPushButton *m_doneButton = nullptr;
    QPushButton *m_replaceButton = nullptr;
    QPushButton *m_replaceAllButton = nullptr;
    int m_markedMatches = 0;
};

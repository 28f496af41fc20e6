#pragma once

#include "Velto/editor/VeltoTextView.h"

#include <QWidget>

#include <functional>
#include <optional>

class AppSettings;
class EditorController;
class FindBar;
class WorkspaceState;

// The Markdown editor of a window, bound to its workspace: the find bar above the text view, and
// the controller that keeps both in step with the workspace text and the settings.
//
//     auto *editor = new MarkdownTextView(workspace, settings, parent);
//     editor->setOnCursorChange([&workspace](qint64 p) { workspace.setCursorPosition(p); });
class MarkdownTextView : public QWidget
{
    Q_OBJECT

public:
    explicit MarkdownTextView(WorkspaceState &workspace, AppSettings &settings,
                              QWidget *parent = nullptr);
    ~MarkdownTextView() override;

    // Handed to the text view's AI menu and inline prompt.
    void setOnAIAction(VeltoTextView::AIActionHandler handler);
    // Caret moves, as UTF-16 offsets of the workspace text.
    void setOnCursorChange(std::function<void(qint64)> handler);
    // The 1-based source line at the top of the visible area.
    void setOnVisibleLineChange(std::function<void(qint64)> handler);

    // A one-shot request to scroll to a 1-based line; cleared (scrollToLineChanged) once applied.
    std::optional<qint64> scrollToLine() const;
    void setScrollToLine(std::optional<qint64> line);

    VeltoTextView *textView() const { return m_textView; }
    FindBar *findBar() const { return m_findBar; }
    EditorController *controller() const { return m_controller; }

signals:
    void scrollToLineChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    VeltoTextView *m_textView = nullptr;
    FindBar *m_findBar = nullptr;
    EditorController *m_controller = nullptr;
};

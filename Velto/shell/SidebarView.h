#pragma once

#include <QWidget>

class Defaults;
class HistoryStore;
class QListView;
class QPushButton;
class QStackedWidget;
class QToolButton;
class SidebarModel;
class WorkspaceState;

// The left column of a main window: the history by age with the open folder's tree under its
// row, or an empty state while the history is empty, and an open button above either.
class SidebarView : public QWidget
{
    Q_OBJECT
public:
    SidebarView(WorkspaceState &workspace, HistoryStore &history, Defaults &defaults,
                QWidget *parent = nullptr);

    SidebarModel *model() const { return m_model; }
    QListView *list() const { return m_list; }
    QToolButton *openButton() const { return m_openButton; }
    QPushButton *emptyStateOpenButton() const { return m_emptyOpenButton; }
    // Whether the empty state (rather than the list) is shown.
    bool showsEmptyState() const;
    // The context menu of a row, or null when the row has none; the caller owns it.
    class QMenu *contextMenuForRow(int row);

private:
    void refreshPage();

    WorkspaceState &m_workspace;
    SidebarModel *m_model;
    QStackedWidget *m_stack;
    QWidget *m_emptyState;
    QListView *m_list;
    QToolButton *m_openButton;
    QPushButton *m_emptyOpenButton;
};

#pragma once

#include "Velto/shell/ShellServices.h"

#include <QWidget>

#include <memory>

class EditorView;
class QSplitter;
class SidebarView;
class WorkspaceState;

// The content of a main window: its own workspace, the sidebar beside the editor area (or the
// bare editor in focus mode), and the window's connection to the process-wide services: the
// start-up sequence, the sync hooks and the caret saved when the application goes inactive.
class ContentView : public QWidget
{
    Q_OBJECT
public:
    explicit ContentView(const ShellServices &services, QWidget *parent = nullptr);
    ~ContentView() override;

    static constexpr int sidebarMinimumWidth = 180;
    static constexpr int sidebarIdealWidth = 220;
    static constexpr int sidebarMaximumWidth = 350;

    WorkspaceState &workspace() const { return *m_workspace; }
    SidebarView *sidebar() const { return m_sidebar; }
    EditorView *editorView() const { return m_editorView; }
    QSplitter *splitter() const { return m_splitter; }
    const ShellServices &services() const { return m_services; }

    // Runs once per window, when it is first shown: resolves the history, restores the last
    // session, points the API server at this workspace and starts it, and attaches sync. Later
    // calls only point the API server and sync back at this window if another took them.
    void start();
    bool isStarted() const { return m_started; }

    // Gives the keyboard to the editor.
    void focusEditor();
    // Saves the caret of the open file (the application went inactive or quits).
    void saveCursorPosition();

private:
    void applyFocusMode();
    void connectSyncHooks();

    ShellServices m_services;
    std::unique_ptr<FilePanels> m_ownPanels;
    WorkspaceState *m_workspace;
    QSplitter *m_splitter;
    SidebarView *m_sidebar;
    EditorView *m_editorView;
    bool m_started = false;
};

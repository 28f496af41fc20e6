#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AISettings;
class AppSettings;
class ChatViewState;
class DocumentAnalysis;
class Defaults;
class MacSyncAdapter;
class MarkdownTextView;
class OutlinePanelView;
class QAction;
class QFrame;
class QSplitter;
class QToolBar;
class StatusBarView;
class WorkspaceState;

// What the editor area needs of a preview: its widget, and where to send the source line the
// editor shows (0: no scroll request).
struct PreviewPane
{
    QWidget *widget = nullptr;
    std::function<void(int line)> setVisibleSourceLine;
};
using PreviewFactory = std::function<PreviewPane(WorkspaceState &, QWidget *parent)>;
// Builds the chat panel for the workspace, taking up the pending actions of the hand-over.
using ChatViewFactory
    = std::function<QWidget *(WorkspaceState &, ChatViewState &, QWidget *parent)>;

// The detail column of a main window: the outline panel (optional), the editor beside the live
// preview in a resizable split, the chat panel (optional) and the status bar, with the toolbar
// toggles for outline, scroll sync and chat. The three panel flags start from the session store
// and are written back on every change, so every window and the next run start from the last
// choice.
class EditorView : public QWidget
{
    Q_OBJECT
public:
    struct Services
    {
        AppSettings *settings = nullptr;
        Defaults *defaults = nullptr; // session store
        MacSyncAdapter *syncAdapter = nullptr;
        PreviewFactory makePreview;
        ChatViewFactory makeChatView; // unset: an empty panel
        AISettings *aiSettings = nullptr; // unset: no AI entries in the context menu
    };

    EditorView(WorkspaceState &workspace, const Services &services, QWidget *parent = nullptr);
    ~EditorView() override;

    static constexpr int paneMinimumWidth = 200;
    static constexpr int chatWidth = 340;

    bool showChat() const { return m_showChat; }
    void setShowChat(bool show);
    bool showOutline() const { return m_showOutline; }
    void setShowOutline(bool show);
    bool scrollSync() const { return m_scrollSync; }
    void setScrollSync(bool enabled);
    int visibleLine() const { return m_visibleLine; }

    // Focus mode leaves the bare editor: no toolbar, panels, preview or status bar, and the
    // editor hands on no AI actions and no visible lines. Leaving it starts the panel flags
    // again from the session store.
    void setFocusMode(bool on);
    bool focusMode() const { return m_focusMode; }

    MarkdownTextView *editor() const { return m_editor; }
    QWidget *preview() const { return m_preview.widget; }
    OutlinePanelView *outline() const { return m_outline; }
    QWidget *chatPanel() const { return m_chatPanel; }
    StatusBarView *statusBar() const { return m_statusBar; }
    QSplitter *splitter() const { return m_splitter; }
    QToolBar *toolBar() const { return m_toolBar; }
    QAction *outlineAction() const { return m_outlineAction; }
    QAction *scrollSyncAction() const { return m_scrollSyncAction; }
    QAction *chatAction() const { return m_chatAction; }
    ChatViewState *chatViewState() const { return m_chatView; }

private:
    void installEditorHandlers();
    void readFlags();
    void refreshOutline();
    void applyLayout();
    void applyScrollSyncIcon();

    WorkspaceState &m_workspace;
    Services m_services;
    bool m_showChat = false;
    bool m_showOutline = false;
    bool m_scrollSync = true;
    int m_visibleLine = 1;
    bool m_focusMode = false;

    ChatViewState *m_chatView;
    QToolBar *m_toolBar;
    QAction *m_outlineAction;
    QAction *m_scrollSyncAction;
    QAction *m_chatAction;
    OutlinePanelView *m_outline;
    QPointer<DocumentAnalysis> m_analysis;
    QFrame *m_outlineDivider;
    QSplitter *m_splitter;
    MarkdownTextView *m_editor;
    PreviewPane m_preview;
    QFrame *m_chatDivider;
    QWidget *m_chatHolder;
    QPointer<QWidget> m_chatPanel;
    StatusBarView *m_statusBar;
};

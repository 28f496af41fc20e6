#include "Velto/shell/EditorView.h"

#include "Velto/editor/MarkdownTextView.h"
#include "Velto/editor/VeltoTextView.h"
#include "Velto/model/ChatViewState.h"
#include "Velto/model/DocumentAnalysis.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/preview/OutlinePanelView.h"
#include "Velto/shell/StatusBarView.h"
#include "core/ai/AISettings.h"
#include "core/markdown/OutlineParser.h"
#include "core/model/SessionRestore.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QSplitter>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QAction *toggle(QToolBar *bar, const QString &icon, const QString &helpKey)
{
    QAction *action = bar->addAction(Icons::symbol(icon), L10n::text(helpKey));
    action->setToolTip(L10n::text(helpKey));
    action->setCheckable(true);
    return action;
}

QList<OutlineItem> outlineOf(const TextAnalysis &analysis)
{
    return OutlineParser::parse(analysis, &outlineOf);
}

} // namespace

EditorView::EditorView(WorkspaceState &workspace, const Services &services, QWidget *parent)
    : QWidget(parent)
    , m_workspace(workspace)
    , m_services(services)
    , m_chatView(new ChatViewState(this))
{
    readFlags();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_toolBar = new QToolBar(this);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setMovable(false);
    m_outlineAction = toggle(m_toolBar, QStringLiteral("list.bullet.indent"),
                             QStringLiteral("editor.outlineHelp"));
    auto *spacer = new QWidget(m_toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(spacer);
    m_scrollSyncAction
        = toggle(m_toolBar, QStringLiteral("link"), QStringLiteral("editor.scrollSyncHelp"));
    // Its symbol alone shows the state; a checked look on top would say it twice.
    m_scrollSyncAction->setCheckable(false);
    m_chatAction = toggle(m_toolBar, QStringLiteral("sparkles"), QStringLiteral("editor.chatHelp"));
    layout->addWidget(m_toolBar);

    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_outline = new OutlinePanelView(this);
    m_outlineDivider = divider(this);
    row->addWidget(m_outline);
    row->addWidget(m_outlineDivider);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_editor = new MarkdownTextView(workspace, *services.settings, m_splitter);
    m_editor->setMinimumWidth(paneMinimumWidth);
    if (AISettings *ai = services.aiSettings)
        m_editor->textView()->setAIConfiguredCheck([ai] { return ai->isConfigured(); });
    m_splitter->addWidget(m_editor);
    m_preview = services.makePreview(workspace, m_splitter);
    m_preview.widget->setMinimumWidth(paneMinimumWidth);
    m_splitter->addWidget(m_preview.widget);
    m_splitter->setSizes({400, 400});
    row->addWidget(m_splitter, 1);

    m_chatDivider = divider(this);
    m_chatHolder = new QWidget(this);
    m_chatHolder->setFixedWidth(chatWidth);
    auto *chatLayout = new QVBoxLayout(m_chatHolder);
    chatLayout->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_chatDivider);
    row->addWidget(m_chatHolder);
    layout->addLayout(row, 1);

    m_statusBar = new StatusBarView(workspace, *services.syncAdapter, this);
    layout->addWidget(m_statusBar);

    connect(m_outlineAction, &QAction::triggered, this, [this] { setShowOutline(!m_showOutline); });
    connect(m_scrollSyncAction, &QAction::triggered, this,
            [this] { setScrollSync(!m_scrollSync); });
    connect(m_chatAction, &QAction::triggered, this, [this] { setShowChat(!m_showChat); });

    m_outline->onSelect = [this](int line) { m_editor->setScrollToLine(line); };
    m_outline->onClose = [this] { setShowOutline(false); };
    m_analysis = &DocumentAnalysis::of(workspace);
    connect(m_analysis, &DocumentAnalysis::ready, this, [this] {
        if (m_showOutline && !m_focusMode)
            refreshOutline();
    });

    installEditorHandlers();
    applyLayout();
    m_preview.setVisibleSourceLine(m_scrollSync ? m_visibleLine : 0);
}

EditorView::~EditorView()
{
    if (m_analysis)
        m_analysis->setPreparation(this, {});
}

void EditorView::readFlags()
{
    const SessionRestore session(*m_services.defaults);
    m_showChat = session.showChat();
    m_showOutline = session.showOutline();
    m_scrollSync = session.scrollSync();
}

void EditorView::installEditorHandlers()
{
    m_editor->setOnCursorChange([this](qint64 position) {
        // An equal position writes nothing, so the sync hook hears only real moves.
        if (m_workspace.cursorPosition() != position)
            m_workspace.setCursorPosition(position);
    });
    if (m_focusMode) {
        m_editor->setOnAIAction({});
        m_editor->setOnVisibleLineChange({});
        return;
    }
    m_editor->setOnAIAction(
        [this](const QString &text, AIAction action, const std::optional<QString> &instruction) {
            setShowChat(true);
            m_chatView->setPendingAction(PendingAIAction {text, action, instruction});
        });
    m_editor->setOnVisibleLineChange([this](qint64 line) {
        m_visibleLine = int(line);
        if (m_scrollSync)
            m_preview.setVisibleSourceLine(m_visibleLine);
    });
}

void EditorView::setShowChat(bool show)
{
    if (m_showChat == show)
        return;
    m_showChat = show;
    SessionRestore(*m_services.defaults).setShowChat(show);
    applyLayout();
}

void EditorView::setShowOutline(bool show)
{
    if (m_showOutline == show)
        return;
    m_showOutline = show;
    SessionRestore(*m_services.defaults).setShowOutline(show);
    applyLayout();
}

void EditorView::setScrollSync(bool enabled)
{
    if (m_scrollSync == enabled)
        return;
    m_scrollSync = enabled;
    SessionRestore(*m_services.defaults).setScrollSync(enabled);
    applyScrollSyncIcon();
    m_preview.setVisibleSourceLine(m_scrollSync ? m_visibleLine : 0);
}

void EditorView::setFocusMode(bool on)
{
    if (m_focusMode == on)
        return;
    m_focusMode = on;
    if (!on)
        readFlags();
    installEditorHandlers();
    applyLayout();
    if (!on)
        m_preview.setVisibleSourceLine(m_scrollSync ? m_visibleLine : 0);
}

void EditorView::refreshOutline()
{
    // A long text's items are made off the GUI thread and shown with ready(); until then the
    // panel keeps the items it has.
    const std::shared_ptr<const TextAnalysis> analysis = m_analysis->current();
    if (analysis->text().size() < backgroundParseSize || analysis->has(&outlineOf))
        m_outline->setItems(analysis->derived(&outlineOf));
}

void EditorView::applyLayout()
{
    const bool full = !m_focusMode;
    m_toolBar->setVisible(full);
    m_statusBar->setVisible(full);
    m_preview.widget->setVisible(full);
    m_outline->setVisible(full && m_showOutline);
    m_outlineDivider->setVisible(full && m_showOutline);
    if (full && m_showOutline) {
        m_analysis->setPreparation(
            this, [](const TextAnalysis &analysis) { analysis.derived(&outlineOf); });
        refreshOutline();
    } else {
        m_analysis->setPreparation(this, {});
    }

    // The chat panel lives only while shown: hiding it drops the conversation.
    const bool chat = full && m_showChat;
    if (chat && !m_chatPanel) {
        m_chatPanel = m_services.makeChatView
            ? m_services.makeChatView(m_workspace, *m_chatView, m_chatHolder)
            : new QWidget(m_chatHolder);
        m_chatHolder->layout()->addWidget(m_chatPanel);
    } else if (!chat && m_chatPanel) {
        delete m_chatPanel.data();
    }
    m_chatDivider->setVisible(chat);
    m_chatHolder->setVisible(chat);

    const QSignalBlocker outlineBlock(m_outlineAction);
    const QSignalBlocker chatBlock(m_chatAction);
    m_outlineAction->setChecked(m_showOutline);
    m_chatAction->setChecked(m_showChat);
    applyScrollSyncIcon();
}

void EditorView::applyScrollSyncIcon()
{
    m_scrollSyncAction->setIcon(
        Icons::symbol(m_scrollSync ? QStringLiteral("link") : QStringLiteral("link.badge.plus")));
}

#include "ShellFixture.h"

#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/ChatViewState.h"
#include "Velto/model/DocumentAnalysis.h"
#include "Velto/preview/OutlinePanelView.h"
#include "Velto/shell/EditorView.h"
#include "Velto/shell/StatusBarView.h"
#include "core/model/SessionRestore.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QScrollBar>
#include <QToolBar>
#include <QToolButton>

using namespace shelltest;

namespace {

class EditorArea : public ShellTest
{
protected:
    std::unique_ptr<EditorView> makeArea()
    {
        const ShellServices s = services();
        EditorView::Services area {s.settings, s.defaults, s.syncAdapter, s.makePreview, {}};
        // A chat stand-in that takes up every pending action, as the panel does.
        area.makeChatView = [this](WorkspaceState &, ChatViewState &chat, QWidget *parent) {
            auto *panel = new QWidget(parent);
            QObject::connect(&chat, &ChatViewState::pendingActionChanged, panel, [this, &chat] {
                if (chat.pendingAction()) {
                    taken.append(*chat.pendingAction());
                    chat.setPendingAction(std::nullopt);
                }
            });
            ++chatPanelsBuilt;
            return panel;
        };
        auto view = std::make_unique<EditorView>(*ws, area);
        view->resize(1000, 600);
        return view;
    }
    bool shown(QWidget *w, QWidget *top) const { return w && w->isVisibleTo(top); }

    QList<PendingAIAction> taken;
    int chatPanelsBuilt = 0;
};

TEST_F(EditorArea, scrollSyncHandsThePreviewTheVisibleLineOrZero)
{
    QString text;
    for (int i = 1; i <= 400; ++i)
        text += QStringLiteral("Zeile %1\n").arg(i);
    ws->setText(text);
    auto area = makeArea();
    // First start: outline and chat hidden, scroll sync on from line 1.
    EXPECT_FALSE(area->showOutline() || area->showChat());
    EXPECT_FALSE(area->scrollSyncAction()->isCheckable()) << "the symbol alone shows the state";
    EXPECT_EQ(previewLines, QList<int> {1});
    EXPECT_EQ(area->toolBar()->actions().first(), area->outlineAction());

    area->show();
    QScrollBar *bar = area->editor()->textView()->verticalScrollBar();
    ASSERT_TRUE(testsupport::waitUntil([&] { return bar->maximum() > 0; }));
    bar->setValue(bar->maximum() / 2);
    ASSERT_TRUE(testsupport::waitUntil([&] { return area->visibleLine() > 1; }));
    const int line = area->visibleLine();
    EXPECT_EQ(previewLines.last(), line);
    area->scrollSyncAction()->trigger();
    EXPECT_EQ(previewLines.last(), 0);
    EXPECT_FALSE(SessionRestore(*defaults).scrollSync());
    bar->setValue(bar->maximum());
    ASSERT_TRUE(testsupport::waitUntil([&] { return area->visibleLine() != line; }));
    EXPECT_EQ(previewLines.last(), 0) << "the preview stays where it is";
    area->scrollSyncAction()->trigger();
    EXPECT_EQ(previewLines.last(), area->visibleLine());
}

TEST_F(EditorArea, anAIActionOpensTheChatWhichTakesItUp)
{
    auto area = makeArea();
    area->editor()->textView()->onAIAction()(QStringLiteral("Auswahl"), AIAction::shorten, {});
    EXPECT_TRUE(area->showChat() && area->chatAction()->isChecked());
    EXPECT_TRUE(SessionRestore(*defaults).showChat());
    ASSERT_NE(area->chatPanel(), nullptr);
    EXPECT_EQ(area->chatPanel()->parentWidget()->width(), EditorView::chatWidth);
    EXPECT_EQ(taken, (QList<PendingAIAction> {{QStringLiteral("Auswahl"), AIAction::shorten, {}}}));
    EXPECT_FALSE(area->chatViewState()->pendingAction());

    // Hiding drops the panel with its conversation; showing builds a new one.
    area->chatAction()->trigger();
    EXPECT_EQ(area->chatPanel(), nullptr);
    area->chatAction()->trigger();
    EXPECT_EQ(chatPanelsBuilt, 2);
}

TEST_F(EditorArea, theOutlineFollowsTheTextScrollsTheEditorAndClosesItself)
{
    ws->setText(QStringLiteral("# Eins\n\nText\n\n## Zwei\n"));
    auto area = makeArea();
    area->outlineAction()->trigger();
    EXPECT_TRUE(SessionRestore(*defaults).showOutline());
    ASSERT_EQ(area->outline()->items().size(), 2);
    ws->setText(ws->text() + QStringLiteral("\n## Drei\n"));
    EXPECT_EQ(area->outline()->items().size(), 3);
    area->outline()->onSelect(5);
    EXPECT_EQ(area->editor()->scrollToLine(), 5);
    area->outline()->closeButton()->click();
    EXPECT_FALSE(area->showOutline() || area->outlineAction()->isChecked());
    EXPECT_FALSE(SessionRestore(*defaults).showOutline());
    area->setShowChat(true);
    EXPECT_TRUE(makeArea()->showChat()) << "the next area starts from the last choice";
}

// The outline of a long text is made off the GUI thread; when a short text replaced it before it
// landed, it must not replace the short text's outline.
TEST_F(EditorArea, aLongTextsOutlineThatLandsLateNeverReplacesTheOutlineOfTheTextShown)
{
    auto area = makeArea();
    area->setShowOutline(true);
    QString longText;
    for (int i = 0; longText.size() < 8 * backgroundParseSize; ++i)
        longText += QStringLiteral("# Part %1\n\nSome *text* here.\n\n").arg(i);
    ws->setText(longText);
    ws->setText(QStringLiteral("# Short\n"));
    ASSERT_EQ(area->outline()->items().size(), 1);

    const DocumentAnalysis &analysis = DocumentAnalysis::of(*ws);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !analysis.isBusy(); }));
    QCoreApplication::processEvents(); // whatever was posted for the long text lands now
    ASSERT_EQ(area->outline()->items().size(), 1);
    EXPECT_EQ(area->outline()->items().first().title, QStringLiteral("Short"));

    ws->setText(longText);
    EXPECT_TRUE(testsupport::waitUntil([&] { return area->outline()->items().size() > 1; }));
}

TEST_F(EditorArea, focusModeLeavesTheBareEditorWithoutAIOrVisibleLineHandlers)
{
    auto area = makeArea();
    area->setShowChat(true);
    area->setFocusMode(true);
    for (QWidget *part :
         QList<QWidget *> {area->toolBar(), area->preview(), area->statusBar(), area->chatPanel()})
        EXPECT_FALSE(shown(part, area.get()));
    EXPECT_TRUE(shown(area->editor(), area.get()));
    EXPECT_FALSE(area->editor()->textView()->onAIAction());

    area->setFocusMode(false);
    EXPECT_TRUE(area->editor()->textView()->onAIAction());
    EXPECT_TRUE(shown(area->chatPanel(), area.get())) << "the chat starts afresh";
    EXPECT_TRUE(shown(area->preview(), area.get()));
}

} // namespace

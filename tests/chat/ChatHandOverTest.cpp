#include "ChatFixture.h"

#include "Velto/editor/EditorController.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/shell/EditorView.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "support/TestSupport.h"

#include <QMenu>
#include <QTextCursor>

using namespace chattest;

namespace {

QAction *aiMenuEntry(QMenu &menu, AIAction action)
{
    for (QAction *entry : menu.actions()) {
        if (!entry->menu())
            continue;
        for (QAction *item : entry->menu()->actions()) {
            if (item->data().metaType() == QMetaType::fromType<AIAction>()
                && item->data().value<AIAction>() == action)
                return item;
        }
    }
    return nullptr;
}

TEST_F(ChatTest, anActionFromTheEditorMenuSendsTheDocumentsOwnText)
{
    AppSettings settings(*defaults);
    MacSyncAdapter sync(*defaults);
    EditorView::Services services {&settings, defaults.get(), &sync, {}, {}};
    services.makePreview = [](WorkspaceState &, QWidget *parent) {
        return PreviewPane {new QWidget(parent), [](int) {}};
    };
    services.makeChatView
        = [this](WorkspaceState &workspace, ChatViewState &state, QWidget *parent) -> QWidget * {
        return new ChatView(workspace, state, chatServices(), parent);
    };
    // Line breaks the editor shows as plain line feeds.
    const QString text
        = QStringLiteral("Titel\r\nZeile eins\r\nZeile\u2028zwei\rEnde\u2029Schluss");
    ws->setText(text);
    EditorView area(*ws, services);
    area.resize(1200, 700);
    area.show();
    EditorController *editor = area.editor()->controller();
    editor->sync();

    const qsizetype from = text.indexOf(QStringLiteral("eins"));
    const qsizetype to = text.indexOf(QStringLiteral("Schluss"));
    QTextCursor selection(editor->view()->document());
    selection.setPosition(editor->editorPosition(from));
    selection.setPosition(editor->editorPosition(to), QTextCursor::KeepAnchor);
    editor->view()->setTextCursor(selection);

    server->enqueue(Response::ok().write(FakeAIServer::openAIEvents({"Kurz."})));
    editor->view()->setAIConfiguredCheck([] { return true; });
    std::unique_ptr<QMenu> menu(editor->view()->buildContextMenu());
    QAction *shorten = aiMenuEntry(*menu, AIAction::shorten);
    ASSERT_NE(shorten, nullptr);
    shorten->trigger();

    auto *panel = qobject_cast<ChatView *>(area.chatPanel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->width(), EditorView::chatWidth);
    EXPECT_FALSE(chatState->pendingAction());
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(lastPrompt(), AIActions::prompt(AIAction::shorten, text.mid(from, to - from)));
    EXPECT_EQ(panel->controller()->messages().last().content(), QStringLiteral("Kurz."));
    EXPECT_EQ(ws->text(), text) << "an answer reaches the document only when applied";
}

} // namespace

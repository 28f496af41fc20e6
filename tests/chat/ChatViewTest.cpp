#include "ChatFixture.h"

#include "Velto/chat/GrowingTextEdit.h"
#include "Velto/chat/MessageBubble.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "platform/L10n.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <qcoro/qcorotask.h>

using namespace chattest;
using namespace std::chrono_literals;

namespace {

QString bubbleText(ChatView &panel, int index)
{
    return panel.bubbles().at(index)->label()->text();
}

QString cutText()
{
    return QStringLiteral("\n[Fehler: ") + L10n::text(QStringLiteral("ai.error.connectionLost"))
        + u']';
}

TEST_F(ChatTest, aFullTurnWithEachProviderAndACutOne)
{
    ws->setText(QStringLiteral("# Notiz\r\nText"));
    struct Case
    {
        AIProviderType provider;
        QByteArray complete;
        QByteArray cut;
        QByteArray path;
    };
    const QList<Case> cases = {
        {AIProviderType::claude, FakeAIServer::anthropicEvents({"Gu", "t."}),
         FakeAIServer::anthropicEvents({"Gu"}, false), "/v1/messages"},
        {AIProviderType::openai, FakeAIServer::openAIEvents({"Gu", "t."}),
         FakeAIServer::openAIEvents({"Gu"}, false), "/v1/chat/completions"},
        {AIProviderType::ollama, FakeAIServer::ollamaLines({"Gu", "t."}),
         FakeAIServer::ollamaLines({"Gu"}, false), "/api/chat"},
        {AIProviderType::veltoKI, FakeAIServer::openAIEvents({"Gu", "t."}),
         FakeAIServer::openAIEvents({"Gu"}, false), "/v1/chat/completions"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(AIProviderTypes::toString(c.provider).toStdString());
        use(c.provider);
        server->enqueue(Response::ok().gap(1ms).writeInPieces(c.complete, 30));
        // Ended as a whole body, as Qt reports some dropped connections.
        server->enqueue(Response::ok().framing(Response::Framing::contentLength).write(c.cut));
        auto panel = makePanel();
        ASSERT_EQ(panel->currentWidget(), panel->conversation());

        typeAndSend(*panel, QStringLiteral("  Wie ist das?  "));
        EXPECT_TRUE(panel->inputField()->toPlainText().isEmpty());
        EXPECT_EQ(bubbleText(*panel, 1), QStringLiteral("...")) << "the reply has not begun";
        EXPECT_TRUE(panel->sendButton()->isEnabled()) << "it stops the reply";
        ASSERT_TRUE(waitForReply(*panel));
        EXPECT_EQ(bubbleText(*panel, 0), QStringLiteral("  Wie ist das?  "));
        EXPECT_EQ(bubbleText(*panel, 1), QStringLiteral("Gut."));
        EXPECT_EQ(panel->controller()->pendingResult(), QStringLiteral("Gut."));
        ASSERT_NE(panel->applyBar(), nullptr);

        const FakeAIServer::Request &request = server->requests().last();
        EXPECT_EQ(request.target, c.path);
        EXPECT_EQ(lastPrompt(),
                  QStringLiteral("  Wie ist das?  \n\n---\n")
                      + L10n::text(QStringLiteral("chat.currentDoc")) + u'\n' + ws->text());
        const QJsonValue system = c.provider == AIProviderType::claude
            ? request.json().value("system")
            : request.json().value("messages").toArray().first().toObject().value("content");
        EXPECT_EQ(system.toString(), L10n::text(QStringLiteral("action.systemPrompt")));

        // The same question again; this reply breaks off before its end marker.
        typeAndSend(*panel, QStringLiteral("Nochmal"));
        EXPECT_EQ(panel->applyBar(), nullptr);
        ASSERT_TRUE(waitForReply(*panel));
        EXPECT_EQ(bubbleText(*panel, 3), QStringLiteral("Gu") + cutText());
        EXPECT_FALSE(panel->controller()->pendingResult()) << "a broken reply is nothing to apply";
        EXPECT_EQ(panel->applyBar(), nullptr);
    }
}

TEST_F(ChatTest, theApplyBarChangesTheDocumentExactlyAsAsked)
{
    ws->setText(QStringLiteral("Eins\r\nZwei"));
    auto panel = makePanel();
    auto answer = [&](const QString &text) {
        server->enqueue(Response::ok().write(FakeAIServer::openAIEvents({text})));
        typeAndSend(*panel, QStringLiteral("Bitte"));
        EXPECT_TRUE(waitForReply(*panel));
        return panel->applyBar() != nullptr;
    };

    ASSERT_TRUE(answer(QStringLiteral("Drei")));
    QSignalSpy changes(ws.get(), &WorkspaceState::textChanged);
    panel->applyButton(QStringLiteral("chat.appendEnd"))->click();
    EXPECT_EQ(ws->text(), QStringLiteral("Eins\r\nZwei\n\nDrei"));
    EXPECT_EQ(changes.count(), 1) << "appending is one change";
    EXPECT_FALSE(panel->controller()->pendingResult());
    ASSERT_TRUE(testsupport::waitUntil([&] { return panel->applyBar() == nullptr; }));

    ASSERT_TRUE(answer(QStringLiteral("Neu\r\n")));
    panel->applyButton(QStringLiteral("chat.replaceDoc"))->click();
    EXPECT_EQ(ws->text(), QStringLiteral("Neu\r\n"));

    // Discard leaves the document; retry asks again with the conversation so far.
    ASSERT_TRUE(answer(QStringLiteral("Weg")));
    panel->applyButton(QStringLiteral("chat.discard"))->click();
    EXPECT_EQ(ws->text(), QStringLiteral("Neu\r\n"));
    EXPECT_FALSE(panel->controller()->pendingResult());

    server->enqueue(Response::ok().write(FakeAIServer::openAIEvents({"Nochmal"})));
    panel->controller()->retry();
    ASSERT_TRUE(waitForReply(*panel));
    const QJsonArray sent = server->requests().last().json().value("messages").toArray();
    EXPECT_EQ(sent.first().toObject().value("content").toString(),
              L10n::text(QStringLiteral("chat.systemPrompt")));
    EXPECT_EQ(sent.last().toObject().value("content").toString(), QStringLiteral("Bitte"));
    EXPECT_EQ(sent.at(sent.size() - 2).toObject().value("content").toString(),
              QStringLiteral("Weg"));
    EXPECT_EQ(panel->controller()->messages().size(), 8);
    EXPECT_EQ(panel->controller()->pendingResult(), QStringLiteral("Nochmal"));
}

TEST_F(ChatTest, replacingAndAppendingAreEachOneStepTheEditorUndoes)
{
    AppSettings settings(*defaults);
    MarkdownTextView editor(*ws, settings);
    editor.show();
    QTest::keyClicks(editor.textView(), QStringLiteral("MEIN TEXT"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return ws->text() == QStringLiteral("MEIN TEXT"); }));
    auto panel = makePanel();
    server->setFallback(Response::ok().write(FakeAIServer::openAIEvents({"Antwort"})));
    for (const char *button : {"chat.replaceDoc", "chat.appendEnd"}) {
        typeAndSend(*panel, QStringLiteral("Bitte"));
        ASSERT_TRUE(waitForReply(*panel) && panel->applyBar());
        panel->applyButton(QString::fromLatin1(button))->click();
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return editor.textView()->document()->isUndoAvailable(); }));
        ASSERT_TRUE(testsupport::waitUntil([&] {
            return editor.textView()->toPlainText() == ws->text();
        })) << button;
        QTest::keyClick(editor.textView(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(ws->text(), QStringLiteral("MEIN TEXT")) << button;
    }
}

TEST_F(ChatTest, aNewDocumentNeverCostsUnsavedText)
{
    auto panel = makePanel();
    server->setFallback(Response::ok().write(FakeAIServer::openAIEvents({"Antwort"})));
    auto offer = [&] {
        typeAndSend(*panel, QStringLiteral("Frage"));
        return waitForReply(*panel) && panel->applyBar();
    };

    // An untitled, modified document whose save panel is cancelled: nothing changes.
    ws->setText(QStringLiteral("Ungesichert"));
    ASSERT_TRUE(offer());
    panel->applyButton(QStringLiteral("chat.newDoc"))->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return panels.savePending(); }));
    panels.answerSave(std::nullopt);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !ws->isSavePanelOpen(); }));
    EXPECT_EQ(ws->text(), QStringLiteral("Ungesichert"));
    EXPECT_EQ(panel->controller()->pendingResult(), QStringLiteral("Antwort"));

    // A modified file is saved first; the reply then stands as a new, unsaved document.
    ws->setSavedText(ws->text());
    ASSERT_TRUE(write(QStringLiteral("notiz.md"), "alt"));
    ASSERT_TRUE(QCoro::waitFor(ws->openFile(docURL(QStringLiteral("notiz.md")))));
    ws->setText(QStringLiteral("neu"));
    panel->applyButton(QStringLiteral("chat.newDoc"))->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return ws->text() == QStringLiteral("Antwort"); }));
    EXPECT_EQ(read(QStringLiteral("notiz.md")), QByteArray("neu"));
    EXPECT_FALSE(ws->selectedFileURL());
    EXPECT_TRUE(ws->isModified());
    EXPECT_FALSE(panel->controller()->pendingResult());

    // A file that cannot be written keeps its text and the offer.
    ws->setSavedText(ws->text());
    ASSERT_TRUE(write(QStringLiteral("weg.md"), "alt"));
    ASSERT_TRUE(QCoro::waitFor(ws->openFile(docURL(QStringLiteral("weg.md")))));
    ws->setText(QStringLiteral("wichtig"));
    ASSERT_TRUE(QFile::remove(docPath(QStringLiteral("weg.md"))));
    ASSERT_TRUE(QDir().mkpath(docPath(QStringLiteral("weg.md"))));
    ASSERT_TRUE(offer());
    panel->applyButton(QStringLiteral("chat.newDoc"))->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(ws->text(), QStringLiteral("wichtig"));
    EXPECT_EQ(ws->selectedFileURL(), docURL(QStringLiteral("weg.md")));
    EXPECT_EQ(panel->controller()->pendingResult(), QStringLiteral("Antwort"));
}

TEST_F(ChatTest, theMessageFieldGrowsToFiveLinesAndShiftReturnBreaksTheLine)
{
    auto panel = makePanel();
    panel->show();
    GrowingTextEdit *field = panel->inputField();
    const int oneLine = field->height();
    field->setFocus();
    for (int i = 0; i < 7; ++i) {
        field->insertPlainText(QStringLiteral("Zeile"));
        QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    }
    EXPECT_EQ(panel->controller()->input(), QStringLiteral("Zeile\n").repeated(7));
    EXPECT_EQ(field->visibleLines(), GrowingTextEdit::maximumLines);
    EXPECT_EQ(field->height() - oneLine, 4 * field->fontMetrics().lineSpacing());
    EXPECT_TRUE(server->requests().isEmpty());
}

TEST_F(ChatTest, theNoticeLeadsToTheAISettingsAndTheConversationWaits)
{
    use(AIProviderType::claude, QString());
    auto panel = makePanel();
    EXPECT_EQ(panel->currentWidget(), panel->notice());
    QSignalSpy opened(navigation.get(), &SettingsNavigation::openRequested);
    panel->openSettingsButton()->click();
    EXPECT_EQ(navigation->selectedTab(), SettingsTab::ai);
    EXPECT_EQ(opened.count(), 1);

    aiSettings->setApiKey(QStringLiteral("k"));
    EXPECT_EQ(panel->currentWidget(), panel->conversation());
    aiSettings->setProvider(AIProviderType::openai);
    aiSettings->setApiKey(QString());
    EXPECT_EQ(panel->currentWidget(), panel->notice());
}

TEST_F(ChatTest, actionsSendTheWholeTextAMessageAnExcerpt)
{
    server->setFallback(Response::ok().write(FakeAIServer::openAIEvents({"ok"})));
    auto panel = makePanel();
    const QList<QToolButton *> &actions = panel->actionButtons();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(actions.last()->text(), QStringLiteral("TL;DR"));
    for (QToolButton *button : actions)
        EXPECT_FALSE(button->isEnabled()) << "the document is empty";

    // 4001 Characters, the last of them a flag of two surrogate pairs.
    const QString text = QString(4000, u'a') + QStringLiteral("\U0001F1E9\U0001F1EA");
    ws->setText(text);
    EXPECT_TRUE(actions.first()->isEnabled());
    actions.at(1)->click();
    EXPECT_FALSE(actions.first()->isEnabled()) << "while the reply streams";
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(lastPrompt(), AIActions::prompt(AIAction::shorten, text));
    EXPECT_EQ(bubbleText(*panel, 0), u'[' + AIActions::title(AIAction::shorten) + u']');

    typeAndSend(*panel, QStringLiteral("Und?"));
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_TRUE(lastPrompt().endsWith(u'\n' + QString(4000, u'a')));

    // Only spaces and tabs: nothing is sent and the field keeps them.
    const qsizetype sent = server->requests().size();
    typeAndSend(*panel, QStringLiteral(" \t "));
    EXPECT_EQ(panel->controller()->input(), QStringLiteral(" \t "));
    EXPECT_EQ(server->requests().size(), sent);

    // A custom instruction without a selection goes alone; its bubble shows 30 Characters.
    const QString instruction = QStringLiteral("Ein Gedicht über Käse, bitte!🧀🧀 danke");
    chatState->setPendingAction(PendingAIAction {QString(), AIAction::custom, instruction});
    EXPECT_FALSE(chatState->pendingAction());
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(lastPrompt(), instruction);
    EXPECT_EQ(panel->controller()->messages().at(4).content(),
              QStringLiteral("[Ein Gedicht über Käse, bitte!🧀]"));
    chatState->setPendingAction(PendingAIAction {QStringLiteral("x"), AIAction::custom, {}});
    ASSERT_TRUE(waitForReply(*panel));
    EXPECT_EQ(lastPrompt(), QStringLiteral("x"));
    EXPECT_EQ(panel->controller()->messages().at(6).content(), QStringLiteral("[Custom]"));
}

} // namespace

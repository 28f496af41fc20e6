#include "EditorFixture.h"

#include "Velto/editor/FindBar.h"
#include "platform/L10n.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct AICall
{
    QString text;
    AIAction action;
    std::optional<QString> instruction;
};

void key(QWidget *widget, int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(widget, Qt::Key(k), modifiers);
}

} // namespace

TEST(VeltoTextView, boldTogglesAroundTheSelectionAndUndoesInOneStep)
{
    EditorFixture f(QStringLiteral("a word b"));
    f.select(2, 6);
    key(f.view(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("a **word** b"));
    EXPECT_EQ(f.selected(), QStringLiteral("word"));
    EXPECT_EQ(f.selectionStart(), 4);

    key(f.view(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("a word b"));
    EXPECT_EQ(f.selected(), QStringLiteral("word"));

    f.view()->undo();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("a **word** b"));
    f.view()->undo();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("a word b"));
}

TEST(VeltoTextView, italicAndLinkKeysFollowTheSelection)
{
    EditorFixture f(QStringLiteral("xy"));
    f.select(1, 1);
    key(f.view(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("x**y"));
    EXPECT_EQ(f.selectionStart(), 2);
    EXPECT_EQ(f.selectionEnd(), 2);

    // One level of "**" is seen as "*" on both sides: unwrapped once.
    f.workspace.setText(QStringLiteral("**bold**"));
    f.settle();
    f.select(2, 6);
    key(f.view(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("*bold*"));
    EXPECT_EQ(f.selected(), QStringLiteral("bold"));

    // Markers inside the selection are not looked at.
    f.workspace.setText(QStringLiteral("**x**"));
    f.settle();
    f.select(0, 5);
    key(f.view(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("****x****"));

    // A surrogate pair counts two units; the selection stays on the same three.
    f.workspace.setText(QString::fromUtf8("😀a"));
    f.settle();
    f.select(0, 3);
    key(f.view(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(f.workspace.text(), QString::fromUtf8("**😀a**"));
    EXPECT_EQ(f.selectionStart(), 2);
    EXPECT_EQ(f.selectionEnd(), 5);

    f.workspace.setText(QStringLiteral("see site now"));
    f.settle();
    f.select(4, 8);
    key(f.view(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("see [site](url) now"));
    EXPECT_EQ(f.selected(), QStringLiteral("url"));

    f.select(0, 0);
    key(f.view(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_TRUE(f.workspace.text().startsWith(QStringLiteral("[](url)see")));
    EXPECT_EQ(f.selectionStart(), 1);
    EXPECT_EQ(f.selectionEnd(), 1);
}

TEST(VeltoTextView, keyCommandsWinOverWindowShortcutsAndNeedExactModifiers)
{
    EditorFixture f(QStringLiteral("word"));
    QMainWindow window;
    int triggered = 0;
    auto *action = new QAction(&window);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    window.addAction(action);
    QObject::connect(action, &QAction::triggered, [&] { ++triggered; });
    f.editor->setParent(&window);
    window.setCentralWidget(f.editor.get());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    f.view()->setFocus();
    f.select(0, 4);

    key(f.view(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("**word**"));
    EXPECT_EQ(triggered, 0);

    // Extra modifiers match nothing here, so the window's shortcut gets the key.
    int other = 0;
    auto *otherAction = new QAction(&window);
    otherAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    window.addAction(otherAction);
    QObject::connect(otherAction, &QAction::triggered, [&] { ++other; });
    key(f.view(), Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("**word**"));
    EXPECT_EQ(other, 1);
    f.editor->setParent(nullptr);
}

TEST(VeltoTextView, contextMenuOffersTheAssistantOnlyForASelectionWhenConfigured)
{
    EditorFixture f(QStringLiteral("some text"));
    bool configured = true;
    f.view()->setAIConfiguredCheck([&] { return configured; });
    std::vector<AICall> calls;
    f.view()->setOnAIAction([&](const QString &t, AIAction a, const std::optional<QString> &i) {
        calls.push_back({t, a, i});
    });

    std::unique_ptr<QMenu> menu(f.view()->buildContextMenu());
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_NE(menu->actions().first()->text(), QStringLiteral("KI-Assistent"));

    f.select(5, 9);
    configured = false;
    menu.reset(f.view()->buildContextMenu());
    EXPECT_NE(menu->actions().first()->text(), QStringLiteral("KI-Assistent"));

    configured = true;
    menu.reset(f.view()->buildContextMenu());
    const QList<QAction *> items = menu->actions();
    ASSERT_GE(items.size(), 3);
    EXPECT_EQ(items[0]->text(), QStringLiteral("KI-Assistent"));
    EXPECT_TRUE(items[1]->isSeparator());
    QMenu *submenu = items[0]->menu();
    ASSERT_NE(submenu, nullptr);
    QStringList titles;
    for (QAction *a : submenu->actions())
        titles << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(titles,
              (QStringList {"rewrite", "shorten", "expand", "proofread", "translate", "simplify",
                            "professional", "casual", "summarize", "-", "Eigene Anweisung..."}));

    submenu->actions()[1]->trigger();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, QStringLiteral("text"));
    EXPECT_EQ(calls[0].action, AIAction::shorten);
    EXPECT_FALSE(calls[0].instruction.has_value());

    submenu->actions().last()->trigger();
    EXPECT_NE(f.view()->promptContainer(), nullptr);
}

TEST(VeltoTextView, inlinePromptSendsTheTrimmedInstructionOrJustCloses)
{
    EditorFixture f(QStringLiteral("abc def"));
    std::vector<AICall> calls;
    f.view()->setOnAIAction([&](const QString &t, AIAction a, const std::optional<QString> &i) {
        calls.push_back({t, a, i});
    });

    f.select(0, 3);
    key(f.view(), Qt::Key_J, Qt::ControlModifier);
    QLineEdit *field = f.view()->promptField();
    ASSERT_NE(field, nullptr);
    ASSERT_NE(f.view()->promptContainer(), nullptr);
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Anweisung für markierten Text..."));
    EXPECT_EQ(f.view()->promptContainer()->size(), QSize(340, 32));
    EXPECT_EQ(field->geometry(), QRect(8, 4, 324, 24));
    const QRect caret = f.view()->cursorRect(f.view()->textCursor());
    EXPECT_EQ(f.view()->promptContainer()->y(), caret.bottom() + 1 + 4);

    field->setText(QStringLiteral("  kürzer\u00A0"));
    key(field, Qt::Key_Return);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, QStringLiteral("abc"));
    EXPECT_EQ(calls[0].action, AIAction::custom);
    EXPECT_EQ(calls[0].instruction, QStringLiteral("kürzer"));
    EXPECT_EQ(f.view()->promptContainer(), nullptr);

    // Blank input only closes.
    key(f.view(), Qt::Key_J, Qt::ControlModifier);
    f.view()->promptField()->setText(QStringLiteral(" \t "));
    key(f.view()->promptField(), Qt::Key_Return);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(f.view()->promptContainer(), nullptr);

    // Escape closes; a new prompt replaces an open one.
    key(f.view(), Qt::Key_J, Qt::ControlModifier);
    key(f.view()->promptField(), Qt::Key_Escape);
    EXPECT_EQ(f.view()->promptContainer(), nullptr);

    EXPECT_EQ(f.workspace.text(), QStringLiteral("abc def")); // Return stays in the field
    f.select(7, 7);
    f.view()->showInlinePrompt();
    EXPECT_EQ(f.view()->promptField()->placeholderText(),
              QStringLiteral("Was soll geschrieben werden?"));
    f.view()->promptField()->setText(QStringLiteral("Gedicht"));
    f.view()->submitInlinePrompt();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].text, QString());
    EXPECT_EQ(calls[1].instruction, QStringLiteral("Gedicht"));
}

TEST(VeltoTextView, droppedFilesBecomeLinksAtTheCaret)
{
    EditorFixture f(QStringLiteral("ab"));
    f.select(1, 1);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/home/a/Bild 1.PNG")),
                  QUrl::fromLocalFile(QStringLiteral("/home/a/doc.pdf")),
                  QUrl(QStringLiteral("https://example.invalid/x.png"))});
    const QPoint at(5, 5);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(f.view()->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(f.view()->viewport(), &drop);
    EXPECT_EQ(f.workspace.text(),
              QStringLiteral("a![Bild 1](/home/a/Bild 1.PNG)\n"
                             "[doc.pdf](/home/a/doc.pdf)b"));

    EXPECT_EQ(
        VeltoTextView::markdownForFiles({QUrl::fromLocalFile(QStringLiteral("/p/scan.tif")),
                                         QUrl::fromLocalFile(QStringLiteral("/p/folder/")),
                                         QUrl::fromLocalFile(QStringLiteral("/p/a.tar.gz.PNG"))}),
        QStringLiteral("[scan.tif](/p/scan.tif)\n[folder](/p/folder)\n"
                       "![a.tar.gz](/p/a.tar.gz.PNG)"));

    // A read-only view inserts nothing.
    f.view()->setReadOnly(true);
    EXPECT_FALSE(f.view()->insertFileLinks({QUrl::fromLocalFile(QStringLiteral("/x.md"))}));
}

TEST(VeltoTextView, findBarSearchesStepsAndReplaces)
{
    EditorFixture f(QStringLiteral("Cat cat\ndog CAT"));
    FindBar *bar = f.editor->findBar();
    f.select(0, 0);
    key(f.view(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_FALSE(bar->isReplaceShown());

    // Incremental: each typed letter selects the first match from where the search started.
    QTest::keyClicks(bar->findField(), QStringLiteral("ca"));
    EXPECT_EQ(f.selectionStart(), 0);
    EXPECT_EQ(f.selectionEnd(), 2);
    QTest::keyClicks(bar->findField(), QStringLiteral("t"));
    EXPECT_EQ(f.selectionEnd(), 3);
    EXPECT_EQ(bar->markedMatchCount(), 3);

    key(f.view(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(f.selectionStart(), 4);
    key(f.view(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(f.selectionStart(), 12);
    key(f.view(), Qt::Key_G, Qt::ControlModifier); // wraps around
    EXPECT_EQ(f.selectionStart(), 0);
    key(f.view(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(f.selectionStart(), 12);
    key(bar->findField(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(f.selectionStart(), 4);

    key(f.view(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(bar->isReplaceShown());
    bar->replaceField()->setText(QStringLiteral("cow"));
    EXPECT_TRUE(bar->replaceCurrent());
    EXPECT_EQ(f.workspace.text(), QStringLiteral("Cat cow\ndog CAT"));
    EXPECT_EQ(f.selectionStart(), 12); // on to the next match

    EXPECT_EQ(bar->replaceAll(), 2);
    EXPECT_EQ(f.workspace.text(), QStringLiteral("cow cow\ndog cow"));
    f.view()->undo();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("Cat cow\ndog CAT"));

    key(bar->findField(), Qt::Key_Escape);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(f.view()->extraSelections().isEmpty());
    // From a button of the bar too: a click on it took the focus from the fields.
    bar->showReplace();
    QPushButton *replace = nullptr;
    for (QPushButton *button : bar->findChildren<QPushButton *>())
        replace = button->text() == L10n::text(QStringLiteral("editor.replace")) ? button : replace;
    ASSERT_TRUE(replace);
    QApplication::setActiveWindow(f.editor.get());
    replace->setFocus();
    key(replace, Qt::Key_Escape);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(f.editor->focusWidget(), f.view());

    for (const char *k :
         {"editor.find.placeholder", "editor.find.previous", "editor.find.next", "editor.find.done",
          "editor.replace.placeholder", "editor.replace", "editor.replaceAll"})
        EXPECT_TRUE(L10n::has(QString::fromLatin1(k))) << k;
}

#include "ShellFixture.h"

#include "Velto/editor/EditorController.h"
#include "Velto/editor/FindBar.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/shell/ContentView.h"
#include "Velto/shell/EditorView.h"
#include "Velto/shell/LegalAcceptanceView.h"
#include "Velto/shell/LegalInfoView.h"
#include "Velto/shell/MainWindow.h"
#include "Velto/shell/SettingsView.h"
#include "Velto/shell/VeltoApp.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using namespace shelltest;

namespace {

class App : public ShellTest
{
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        // The legal question has its own tests below.
        defaults->set(LegalAcceptanceView::hasAcceptedLegalKey, true);
        app = std::make_unique<VeltoApp>(services());
        app->setTerminate([this] { ++terminated; });
    }
    void TearDown() override
    {
        for (MainWindow *w : app->mainWindows()) {
            w->setClosesForReal(true);
            delete w;
        }
        app.reset();
        ShellTest::TearDown();
    }
    bool activate(QWidget *window)
    {
        window->show();
        QApplication::setActiveWindow(window);
        return testsupport::waitUntil([&] { return window->isActiveWindow(); });
    }
    QAction *action(const char *key) const { return app->action(QString::fromLatin1(key)); }
    // Starts quitting and clicks the named button of the question shown over the window; then
    // runs answerPanel (for a save panel that follows). The result of the quit request.
    std::optional<bool> quitAnswering(MainWindow *window, const QString &button,
                                      const std::function<void()> &answerPanel = {})
    {
        std::optional<bool> result;
        QCoro::connect(app->requestQuit(), app.get(), [&](bool r) { result = r; });
        answer(window, button);
        if (answerPanel) {
            testsupport::waitUntil([&] { return panels.savePending(); });
            answerPanel();
        }
        testsupport::waitUntil([&] { return result.has_value(); });
        return result;
    }
    // Clicks the named button of the question about unsaved changes shown over the window.
    void answer(MainWindow *window, const QString &button)
    {
        QMessageBox *box = nullptr;
        testsupport::waitUntil([&] {
            for (auto *candidate : window->findChildren<QMessageBox *>())
                box = candidate->isVisible() ? candidate : box;
            return box != nullptr;
        });
        for (QAbstractButton *b : box ? box->buttons() : QList<QAbstractButton *>()) {
            if (b->text() == button)
                b->click();
        }
    }

    std::unique_ptr<VeltoApp> app;
    int terminated = 0;
};

TEST_F(App, germanMenusWithTheirShortcutsActOnTheActiveWindow)
{
    MainWindow *window = app->openMainWindow();
    QStringList titles;
    for (QAction *menu : window->menuBar()->actions())
        titles << menu->text();
    EXPECT_EQ(titles, (QStringList {"Datei", "Bearbeiten", "Darstellung", "Hilfe"}));
    const QList<std::pair<const char *, const char *>> shortcuts {
        {"menu.newFile", "Ctrl+N"},    {"menu.open", "Ctrl+O"},
        {"menu.save", "Ctrl+S"},       {"menu.saveAs", "Ctrl+Shift+S"},
        {"menu.exportHTML", ""},       {"menu.exportPDF", "Ctrl+Shift+E"},
        {"menu.settings", "Ctrl+,"},   {"menu.quit", "Ctrl+Q"},
        {"menu.focusMode", "Ctrl+\\"}, {"menu.wideMode", "Ctrl+Shift+W"},
    };
    for (const auto &[key, keys] : shortcuts)
        EXPECT_EQ(action(key)->shortcut(), QKeySequence(QString::fromLatin1(keys))) << key;
    EXPECT_EQ(action("menu.saveAs")->text(), QStringLiteral("Speichern unter …"));

    ASSERT_TRUE(activate(window));
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(panels.savePending());
    panels.answerSave(std::nullopt);
    // Focus mode lives in memory only; wide mode is kept.
    QTest::keyClick(window, Qt::Key_Backslash, Qt::ControlModifier);
    action("menu.wideMode")->trigger();
    EXPECT_TRUE(settings->isFocusMode());
    EXPECT_TRUE(action("menu.focusMode")->isChecked());
    AppSettings restarted(*defaults);
    EXPECT_FALSE(restarted.isFocusMode());
    EXPECT_TRUE(restarted.isWideMode());
}

TEST_F(App, editMenuWorksOnTheFocusedTextAndOpensTheFindBar)
{
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(activate(window));
    window->workspace().setText(QStringLiteral("Hallo Welt"));
    MarkdownTextView *editor = window->content()->editorView()->editor();
    editor->controller()->sync();
    editor->textView()->setFocus();
    action("edit.selectAll")->trigger();
    action("edit.cut")->trigger();
    EXPECT_EQ(window->workspace().text(), QString());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Hallo Welt"));
    action("edit.undo")->trigger();
    EXPECT_EQ(window->workspace().text(), QStringLiteral("Hallo Welt"));
    action("edit.find")->trigger();
    EXPECT_TRUE(editor->findBar()->isVisible());
    // The editor's own keys are shown beside the entry, not bound to it.
    EXPECT_TRUE(action("edit.copy")->text().startsWith(QStringLiteral("Kopieren\t")));
    EXPECT_TRUE(action("edit.copy")->shortcut().isEmpty());
}

TEST_F(App, withoutAFocusedWindowOnlySaveAndSaveAsAreDisabledAndNothingChanges)
{
    MainWindow *window = app->openMainWindow();
    window->workspace().setText(QStringLiteral("Text"));
    QApplication::setActiveWindow(nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !app->focusedWorkspace(); }));
    EXPECT_FALSE(action("menu.save")->isEnabled());
    EXPECT_FALSE(action("menu.saveAs")->isEnabled());
    for (const char *key : {"menu.newFile", "menu.open", "menu.exportHTML", "menu.exportPDF"}) {
        EXPECT_TRUE(action(key)->isEnabled()) << key;
        action(key)->trigger();
    }
    EXPECT_EQ(window->workspace().text(), QStringLiteral("Text"));
    EXPECT_FALSE(panels.openPending() || panels.savePending());
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && qobject_cast<QFileDialog *>(w)) << "no dialog opened";

    ASSERT_TRUE(activate(window));
    EXPECT_TRUE(action("menu.save")->isEnabled());
}

TEST_F(App, newRestoresAMinimisedWindowAndEmptiesOnlyAFocusedDocument)
{
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(write(QStringLiteral("a.md"), "# A\n"));
    window->workspace().setFolderURL(QUrl::fromLocalFile(tmp.filePath(QStringLiteral("docs"))));
    window->workspace().openFile(docURL(QStringLiteral("a.md")));
    window->showMinimized();
    QApplication::setActiveWindow(nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !app->focusedWorkspace(); }));
    app->newFile();
    EXPECT_FALSE(window->windowState().testFlag(Qt::WindowMinimized));
    EXPECT_EQ(window->workspace().text(), QStringLiteral("# A\n"));

    ASSERT_TRUE(activate(window));
    app->newFile();
    EXPECT_EQ(window->workspace().text(), QString());
    EXPECT_FALSE(window->workspace().selectedFileURL());
    EXPECT_TRUE(window->workspace().folderURL()) << "the folder stays open";
}

TEST_F(App, quittingAsksPerModifiedWindowAndOnlySavedOrDiscardedTextLetsItQuit)
{
    MainWindow *clean = app->openMainWindow();
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(write(QStringLiteral("gone/notes.md"), "alt"));
    window->workspace().openFile(docURL(QStringLiteral("gone/notes.md")));
    window->workspace().setText(QStringLiteral("neu"));
    window->showMinimized();

    EXPECT_EQ(quitAnswering(window, QStringLiteral("Abbrechen")), false);
    EXPECT_EQ(clean->findChild<QMessageBox *>(), nullptr) << "an unmodified window is not asked";
    EXPECT_FALSE(window->windowState().testFlag(Qt::WindowMinimized)) << "brought up to ask";
    EXPECT_EQ(window->workspace().text(), QStringLiteral("neu"));

    // The file's folder is gone: the save fails and the quit stops.
    QDir(docPath(QStringLiteral("gone"))).removeRecursively();
    EXPECT_EQ(quitAnswering(window, QStringLiteral("Speichern")), false);
    EXPECT_EQ(terminated, 0);
    EXPECT_FALSE(window->closesForReal());

    EXPECT_EQ(quitAnswering(window, QStringLiteral("Verwerfen")), true);
    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(window->closesForReal() && clean->closesForReal());
    EXPECT_FALSE(QFile::exists(docPath(QStringLiteral("gone/notes.md"))));
}

TEST_F(App, quittingWithAnUntitledDocumentWaitsForTheSavePanel)
{
    MainWindow *window = app->openMainWindow();
    window->workspace().setText(QStringLiteral("Entwurf"));
    EXPECT_EQ(quitAnswering(window, QStringLiteral("Speichern"),
                            [&] { panels.answerSave(std::nullopt); }),
              false);
    EXPECT_EQ(terminated, 0);
    EXPECT_EQ(window->workspace().text(), QStringLiteral("Entwurf"));

    EXPECT_EQ(quitAnswering(window, QStringLiteral("Speichern"),
                            [&] { panels.answerSave(docURL(QStringLiteral("entwurf.md"))); }),
              true);
    EXPECT_EQ(read(QStringLiteral("entwurf.md")), "Entwurf");
    EXPECT_EQ(terminated, 1);
}

TEST_F(App, newAndOpenOnAModifiedUntitledDocumentKeepTheTextWhenTheSavePanelIsCancelled)
{
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(activate(window));
    ASSERT_TRUE(write(QStringLiteral("other.md"), "anderes"));
    WorkspaceState &workspace = window->workspace();
    workspace.setText(QStringLiteral("Entwurf"));

    action("menu.newFile")->trigger();
    ASSERT_TRUE(panels.savePending());
    EXPECT_EQ(workspace.text(), QStringLiteral("Entwurf")) << "nothing cleared before the panel";
    panels.answerSave(std::nullopt);
    EXPECT_EQ(workspace.text(), QStringLiteral("Entwurf"));

    action("menu.open")->trigger();
    panels.answerOpen(docURL(QStringLiteral("other.md")));
    ASSERT_TRUE(panels.savePending());
    panels.answerSave(std::nullopt);
    EXPECT_EQ(workspace.text(), QStringLiteral("Entwurf"));
    EXPECT_FALSE(workspace.selectedFileURL());
}

TEST_F(App, settingsOpenOnTheRequestedTabEachAboutIsANewWindowAndLegalTextsAreShown)
{
    app->openSettings(SettingsTab::api);
    EXPECT_EQ(navigation->selectedTab(), SettingsTab::api);
    SettingsView *settingsWindow = app->settingsWindow();
    EXPECT_TRUE(settingsWindow->isVisible());
    settingsWindow->hide();
    // What the chat's "open settings" does.
    navigation->open(SettingsTab::ai);
    EXPECT_TRUE(settingsWindow->isVisible());
    EXPECT_EQ(settingsWindow->tabs()->currentWidget(), settingsWindow->tab(SettingsTab::ai));
    EXPECT_EQ(app->settingsWindow(), settingsWindow) << "one settings window";
    navigation->setSelectedTab(SettingsTab::editor);
    const auto abouts = [] {
        int n = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            n += w->isVisible() && w->windowTitle() == QStringLiteral("Über Velto");
        return n;
    };
    const int before = abouts();
    action("menu.about")->trigger();
    action("menu.about")->trigger();
    EXPECT_EQ(abouts(), before + 2);
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(activate(window));
    action("menu.privacy")->trigger();
    EXPECT_EQ(app->activeLegalInfo(), LegalInfoType::privacy);
    auto *info = window->findChild<LegalInfoView *>();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->type(), LegalInfoType::privacy);
    action("menu.impressum")->trigger();
    EXPECT_EQ(app->activeLegalInfo(), LegalInfoType::impressum);
    testsupport::waitUntil([&] { return window->findChildren<LegalInfoView *>().size() == 1; });
    info = window->findChild<LegalInfoView *>();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->type(), LegalInfoType::impressum);
    QTest::keyClick(info, Qt::Key_Escape);
    EXPECT_EQ(app->activeLegalInfo(), std::nullopt);
}

TEST_F(App, theLegalQuestionComesOverEveryWindowAndDeclineQuitsAfterTheUnsavedCheckWritingNothing)
{
    defaults->remove(LegalAcceptanceView::hasAcceptedLegalKey);
    MainWindow *first = app->openMainWindow();
    MainWindow *second = app->openMainWindow();
    ASSERT_TRUE(testsupport::waitUntil([&] { return app->legalAcceptanceDialogs().size() == 2; }));
    LegalAcceptanceView *dialog = app->legalAcceptanceDialogs().constFirst();
    EXPECT_EQ(dialog->parentWidget(), first);
    EXPECT_EQ(app->legalAcceptanceDialogs().constLast()->parentWidget(), second);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);

    first->workspace().setText(QStringLiteral("Entwurf"));
    dialog->declineButton()->click();
    answer(first, QStringLiteral("Abbrechen"));
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return first->findChildren<QMessageBox *>().isEmpty(); }));
    EXPECT_EQ(terminated, 0);
    EXPECT_TRUE(dialog->isVisible()) << "still to be answered";

    dialog->declineButton()->click();
    answer(first, QStringLiteral("Verwerfen"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return terminated == 1; }));
    const Defaults stored(defaults->filePath());
    EXPECT_FALSE(stored.contains(LegalAcceptanceView::hasAcceptedLegalKey));
    EXPECT_FALSE(stored.contains(LegalAcceptanceView::acceptanceDateKey));
}

TEST_F(App, declineEndsTheEventLoopAndARefusedQuitCanBeRepeated)
{
    auto real = std::make_unique<VeltoApp>(services()); // quits for real
    QPointer<MainWindow> window = real->openMainWindow();
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(2); });

    // A window that refuses to close vetoes the quit; quitting must stay possible afterwards.
    class Stubborn : public QWidget
    {
        void closeEvent(QCloseEvent *event) override { event->ignore(); }
    } stubborn;
    stubborn.show();
    QTimer poll;
    bool asked = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (asked && !real->isQuitting())
            QCoreApplication::exit(1);
    });
    QTimer::singleShot(0, real.get(), [&] {
        real->requestQuit();
        asked = real->isQuitting();
        poll.start(5);
    });
    deadline.start(10000);
    EXPECT_EQ(QCoreApplication::exec(), 1);
    poll.stop();
    EXPECT_TRUE(asked);

    stubborn.hide();
    defaults->remove(LegalAcceptanceView::hasAcceptedLegalKey);
    QPointer<MainWindow> second = real->openMainWindow();
    ASSERT_TRUE(testsupport::waitUntil([&] { return real->legalAcceptanceDialogs().size() == 1; }));
    QTimer::singleShot(0, real.get(), [&] {
        real->legalAcceptanceDialogs().constFirst()->declineButton()->click();
    });
    deadline.start(10000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    delete window;
    delete second;
}

TEST_F(App, acceptingInOneWindowClosesTheQuestionEverywhereAndForLaterStarts)
{
    defaults->remove(LegalAcceptanceView::hasAcceptedLegalKey);
    app->openMainWindow();
    app->openMainWindow();
    ASSERT_TRUE(testsupport::waitUntil([&] { return app->legalAcceptanceDialogs().size() == 2; }));
    LegalAcceptanceView *dialog = app->legalAcceptanceDialogs().constLast();
    dialog->termsCheckBox()->click();
    dialog->privacyCheckBox()->click();
    dialog->acceptButton()->click();
    EXPECT_TRUE(testsupport::waitUntil([&] { return app->legalAcceptanceDialogs().isEmpty(); }));
    EXPECT_TRUE(app->hasAcceptedLegal());
    EXPECT_EQ(terminated, 0);

    VeltoApp later(services());
    MainWindow *window = later.openMainWindow();
    QCoreApplication::processEvents();
    EXPECT_TRUE(later.legalAcceptanceDialogs().isEmpty());
    EXPECT_EQ(window->findChild<LegalAcceptanceView *>(), nullptr);
    window->setClosesForReal(true);
    delete window;
}

} // namespace

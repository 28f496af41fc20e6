#include "ShellFixture.h"

#include "Velto/editor/EditorController.h"
#include "Velto/editor/FindBar.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/shell/ContentView.h"
#include "Velto/shell/EditorView.h"
#include "Velto/shell/MainWindow.h"
#include "Velto/shell/VeltoApp.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace shelltest;

namespace {

class App : public ShellTest
{
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
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
        window->activateWindow();
        QApplication::setActiveWindow(window);
        return testsupport::waitUntil([&] { return window->isActiveWindow(); });
    }
    void deactivate()
    {
        QApplication::setActiveWindow(nullptr);
        ASSERT_TRUE(testsupport::waitUntil([&] { return !app->focusedWorkspace(); }));
    }
    QMessageBox *question(MainWindow *window) const
    {
        for (auto *box : window->findChildren<QMessageBox *>()) {
            if (box->isVisible())
                return box;
        }
        return nullptr;
    }
    // Starts quitting and answers the question about the window with the button titled so.
    std::optional<bool> quitAnswering(MainWindow *window, const QString &button,
                                      const std::function<void()> &afterAnswer = {})
    {
        std::optional<bool> result;
        QCoro::connect(app->requestQuit(), app.get(), [&](bool r) { result = r; });
        if (!testsupport::waitUntil([&] { return question(window) != nullptr; }))
            return std::nullopt;
        QMessageBox *box = question(window);
        for (QAbstractButton *b : box->buttons()) {
            if (b->text() == button)
                b->click();
        }
        if (afterAnswer)
            afterAnswer();
        testsupport::waitUntil([&] { return result.has_value(); });
        return result;
    }
    bool anyFileDialog() const
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QFileDialog *>(w) && w->isVisible())
                return true;
        }
        return false;
    }

    std::unique_ptr<VeltoApp> app;
    int terminated = 0;
};

TEST_F(App, menuBarHasTheGermanMenusAndShortcuts)
{
    MainWindow *window = app->openMainWindow();
    QStringList titles;
    for (QAction *menu : window->menuBar()->actions())
        titles << menu->text();
    EXPECT_EQ(titles, (QStringList {"Datei", "Bearbeiten", "Darstellung", "Hilfe"}));

    const QList<std::pair<const char *, const char *>> shortcuts {
        {"menu.newFile", "Ctrl+N"},
        {"menu.open", "Ctrl+O"},
        {"menu.save", "Ctrl+S"},
        {"menu.saveAs", "Ctrl+Shift+S"},
        {"menu.exportHTML", ""},
        {"menu.exportPDF", "Ctrl+Shift+E"},
        {"menu.settings", "Ctrl+,"},
        {"menu.quit", "Ctrl+Q"},
        {"menu.focusMode", "Ctrl+\\"},
        {"menu.wideMode", "Ctrl+Shift+W"},
        {"menu.about", ""},
        {"menu.impressum", ""},
    };
    for (const auto &[key, keys] : shortcuts) {
        QAction *action = app->action(QString::fromLatin1(key));
        ASSERT_TRUE(action) << key;
        EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(keys))) << key;
    }
    EXPECT_EQ(app->action(QStringLiteral("menu.saveAs"))->text(),
              QStringLiteral("Speichern unter …"));
    EXPECT_EQ(app->action(QStringLiteral("menu.settings"))->text(),
              QStringLiteral("Einstellungen …"));

    // The keys reach the commands of the active window.
    ASSERT_TRUE(activate(window));
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(panels.savePending());
    panels.answerSave(std::nullopt);
    QTest::keyClick(window, Qt::Key_Backslash, Qt::ControlModifier);
    EXPECT_TRUE(settings->isFocusMode());
    EXPECT_TRUE(app->action(QStringLiteral("menu.focusMode"))->isChecked());
}

TEST_F(App, editMenuWorksOnTheFocusedTextAndOpensTheFindBar)
{
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(activate(window));
    window->workspace().setText(QStringLiteral("Hallo Welt"));
    MarkdownTextView *editor = window->content()->editorView()->editor();
    editor->controller()->sync();
    editor->textView()->setFocus();
    app->action(QStringLiteral("edit.selectAll"))->trigger();
    app->action(QStringLiteral("edit.cut"))->trigger();
    EXPECT_EQ(window->workspace().text(), QString());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Hallo Welt"));
    app->action(QStringLiteral("edit.undo"))->trigger();
    EXPECT_EQ(window->workspace().text(), QStringLiteral("Hallo Welt"));
    app->action(QStringLiteral("edit.find"))->trigger();
    EXPECT_TRUE(editor->findBar()->isVisible());
    // The editor's own keys are shown beside the entry, not bound to it.
    QAction *copy = app->action(QStringLiteral("edit.copy"));
    EXPECT_TRUE(copy->text().startsWith(QStringLiteral("Kopieren\t")));
    EXPECT_TRUE(copy->shortcut().isEmpty());
}

TEST_F(App, withoutAFocusedWindowOnlySaveAndSaveAsAreDisabledAndNothingChanges)
{
    MainWindow *window = app->openMainWindow();
    makeFolder();
    window->workspace().setText(QStringLiteral("Text"));
    deactivate();
    EXPECT_FALSE(app->action(QStringLiteral("menu.save"))->isEnabled());
    EXPECT_FALSE(app->action(QStringLiteral("menu.saveAs"))->isEnabled());
    for (const char *key : {"menu.newFile", "menu.open", "menu.exportHTML", "menu.exportPDF"}) {
        QAction *action = app->action(QString::fromLatin1(key));
        EXPECT_TRUE(action->isEnabled()) << key;
        action->trigger();
    }
    EXPECT_EQ(window->workspace().text(), QStringLiteral("Text"));
    EXPECT_FALSE(panels.openPending());
    EXPECT_FALSE(panels.savePending());
    EXPECT_FALSE(anyFileDialog());

    ASSERT_TRUE(activate(window));
    EXPECT_TRUE(app->action(QStringLiteral("menu.save"))->isEnabled());
    app->action(QStringLiteral("menu.open"))->trigger();
    EXPECT_TRUE(panels.openPending());
    panels.answerOpen(std::nullopt);
}

TEST_F(App, newRestoresAMinimisedWindowAndEmptiesOnlyAFocusedDocument)
{
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(write(QStringLiteral("a.md"), "# A\n"));
    window->workspace().setFolderURL(QUrl::fromLocalFile(tmp.filePath(QStringLiteral("docs"))));
    window->workspace().openFile(docURL(QStringLiteral("a.md")));
    window->showMinimized();
    deactivate();
    app->newFile();
    EXPECT_FALSE(window->windowState().testFlag(Qt::WindowMinimized));
    EXPECT_EQ(window->workspace().text(), QStringLiteral("# A\n"));

    ASSERT_TRUE(activate(window));
    app->newFile();
    EXPECT_EQ(window->workspace().text(), QString());
    EXPECT_FALSE(window->workspace().selectedFileURL());
    EXPECT_TRUE(window->workspace().folderURL()) << "the folder stays open";
}

TEST_F(App, focusModeIsNotKeptButWideModeIs)
{
    app->action(QStringLiteral("menu.focusMode"))->trigger();
    app->action(QStringLiteral("menu.wideMode"))->trigger();
    EXPECT_TRUE(settings->isFocusMode());
    EXPECT_TRUE(settings->isWideMode());
    AppSettings restarted(*defaults);
    EXPECT_FALSE(restarted.isFocusMode());
    EXPECT_TRUE(restarted.isWideMode());
    // A change from elsewhere shows in the menu.
    settings->setIsWideMode(false);
    EXPECT_FALSE(app->action(QStringLiteral("menu.wideMode"))->isChecked());
}

TEST_F(App, quittingAsksAboutModifiedDocumentsAndCancelKeepsEverything)
{
    MainWindow *clean = app->openMainWindow();
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(write(QStringLiteral("notes.md"), "alt"));
    window->workspace().openFile(docURL(QStringLiteral("notes.md")));
    window->workspace().setText(QStringLiteral("neu"));
    window->showMinimized();

    EXPECT_EQ(quitAnswering(window, QStringLiteral("Abbrechen")), false);
    EXPECT_EQ(question(clean), nullptr) << "an unmodified window is not asked about";
    EXPECT_EQ(terminated, 0);
    EXPECT_EQ(window->workspace().text(), QStringLiteral("neu"));
    EXPECT_FALSE(window->closesForReal());
    EXPECT_FALSE(window->windowState().testFlag(Qt::WindowMinimized)) << "brought up to ask";

    EXPECT_EQ(quitAnswering(window, QStringLiteral("Speichern")), true);
    EXPECT_EQ(read(QStringLiteral("notes.md")), "neu");
    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(window->closesForReal());
    EXPECT_TRUE(clean->closesForReal());
}

TEST_F(App, discardQuitsWithoutWritingAndAFailedSaveStopsTheQuit)
{
    MainWindow *window = app->openMainWindow();
    ASSERT_TRUE(write(QStringLiteral("gone/notes.md"), "alt"));
    window->workspace().openFile(docURL(QStringLiteral("gone/notes.md")));
    window->workspace().setText(QStringLiteral("neu"));
    // The file's folder disappears: the save cannot be written.
    QDir(docPath(QStringLiteral("gone"))).removeRecursively();
    EXPECT_EQ(quitAnswering(window, QStringLiteral("Speichern")), false);
    EXPECT_EQ(terminated, 0);
    EXPECT_EQ(window->workspace().text(), QStringLiteral("neu"));

    EXPECT_EQ(quitAnswering(window, QStringLiteral("Verwerfen")), true);
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(QFile::exists(docPath(QStringLiteral("gone/notes.md"))));
}

TEST_F(App, quittingWithAnUntitledDocumentWaitsForTheSavePanel)
{
    MainWindow *window = app->openMainWindow();
    window->workspace().setText(QStringLiteral("Entwurf"));
    EXPECT_EQ(quitAnswering(window, QStringLiteral("Speichern"),
                            [&] {
                                ASSERT_TRUE(
                                    testsupport::waitUntil([&] { return panels.savePending(); }));
                                panels.answerSave(std::nullopt);
                            }),
              false);
    EXPECT_EQ(terminated, 0);
    EXPECT_EQ(window->workspace().text(), QStringLiteral("Entwurf"));

    EXPECT_EQ(quitAnswering(window, QStringLiteral("Speichern"),
                            [&] {
                                ASSERT_TRUE(
                                    testsupport::waitUntil([&] { return panels.savePending(); }));
                                panels.answerSave(docURL(QStringLiteral("entwurf.md")));
                            }),
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

    app->action(QStringLiteral("menu.newFile"))->trigger();
    ASSERT_TRUE(panels.savePending());
    EXPECT_EQ(workspace.text(), QStringLiteral("Entwurf")) << "nothing cleared before the panel";
    panels.answerSave(std::nullopt);
    EXPECT_EQ(workspace.text(), QStringLiteral("Entwurf"));

    app->action(QStringLiteral("menu.open"))->trigger();
    panels.answerOpen(docURL(QStringLiteral("other.md")));
    ASSERT_TRUE(panels.savePending());
    EXPECT_EQ(workspace.text(), QStringLiteral("Entwurf"));
    panels.answerSave(std::nullopt);
    EXPECT_EQ(workspace.text(), QStringLiteral("Entwurf"));
    EXPECT_FALSE(workspace.selectedFileURL());
}

TEST_F(App, settingsOpenOnTheRequestedTabAndEachAboutIsANewWindow)
{
    app->openSettings(SettingsTab::api);
    EXPECT_EQ(SettingsNavigation::shared().selectedTab(), SettingsTab::api);
    SettingsNavigation::shared().setSelectedTab(SettingsTab::editor);

    const auto abouts = [] {
        QList<QWidget *> found;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == QStringLiteral("Über Velto"))
                found << w;
        }
        return found;
    };
    const qsizetype before = abouts().size();
    app->showAbout();
    app->showAbout();
    ASSERT_EQ(abouts().size(), before + 2);
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    for (QWidget *about : abouts())
        EXPECT_LE((about->geometry().center() - centre).manhattanLength(), 2);

    app->action(QStringLiteral("menu.privacy"))->trigger();
    EXPECT_EQ(app->activeLegalInfo(), LegalInfoType::privacy);
}

} // namespace

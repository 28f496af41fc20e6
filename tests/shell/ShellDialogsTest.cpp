#include "ShellFixture.h"
#include "preview/QStringPrinter.h"

#include "Velto/model/FilePanels.h"
#include "Velto/preview/Export.h"
#include "Velto/shell/ShellDialogs.h"
#include "support/TestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTest>

using namespace shelltest;

namespace {

QFileDialog *openDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

using Dialogs = ShellTest;

TEST_F(Dialogs, fileDialogsStartInTheDocumentsFolderElseTheOpenFolderElseHome)
{
    EXPECT_EQ(ShellDialogs::startFolder(*ws), QDir::homePath());
    ws->setFolderURL(QUrl::fromLocalFile(tmp.filePath(QStringLiteral("docs"))));
    EXPECT_EQ(ShellDialogs::startFolder(*ws), tmp.filePath(QStringLiteral("docs")));
    ASSERT_TRUE(write(QStringLiteral("sub/a.md"), "x"));
    ws->openFile(docURL(QStringLiteral("sub/a.md")));
    EXPECT_EQ(ShellDialogs::startFolder(*ws), docPath(QStringLiteral("sub")));
}

TEST_F(Dialogs, oneClickOnAFileInTheOpenDialogChoosesIt)
{
    ASSERT_TRUE(write(QStringLiteral("a.md"), "x"));
    DialogFilePanels dialogs([this] { return tmp.filePath(QStringLiteral("docs")); });
    std::optional<QUrl> chosen;
    bool answered = false;
    dialogs.chooseOpenItem(QStringLiteral("Datei oder Ordner auswählen"),
                           [&](std::optional<QUrl> url) {
                               chosen = url;
                               answered = true;
                           });
    QFileDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Datei oder Ordner auswählen"));
    EXPECT_EQ(dialog->directory().absolutePath(), tmp.filePath(QStringLiteral("docs")));
    auto *model = dialog->findChild<QFileSystemModel *>();
    ASSERT_TRUE(model);
    // The folder is read in the background; the file's row appears when it is in.
    const auto file = [&] { return model->index(docPath(QStringLiteral("a.md"))); };
    QAbstractItemView *view = nullptr;
    for (auto *candidate : dialog->findChildren<QAbstractItemView *>()) {
        const QString name = candidate->objectName();
        if (candidate->isVisible() && (name == u"treeView" || name == u"listView"))
            view = candidate;
    }
    ASSERT_TRUE(view);
    ASSERT_TRUE(testsupport::waitUntil([&] { return view->visualRect(file()).isValid(); }));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(file()).center());
    ASSERT_TRUE(testsupport::waitUntil([&] { return answered; }));
    EXPECT_EQ(chosen, docURL(QStringLiteral("a.md")));
}

TEST_F(Dialogs, saveAndExportDialogsCarryGermanTitlesAndStartInTheGivenFolder)
{
    const QString folder = tmp.filePath(QStringLiteral("docs"));
    DialogFilePanels dialogs([folder] { return folder; });
    bool answered = false;
    dialogs.chooseSaveLocation(QStringLiteral("Untitled.md"),
                               [&](std::optional<QUrl>) { answered = true; });
    QFileDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Speichern unter"));
    EXPECT_EQ(dialog->directory().absolutePath(), folder);
    dialog->reject();
    ASSERT_TRUE(testsupport::waitUntil([&] { return answered; }));

    const ExportEnvironment env = ShellDialogs::exportEnvironment(folder);
    std::optional<QString> path;
    env.chooseFile(
        {QStringLiteral("PDF (*.pdf)"), QStringLiteral("export.pdf"), QStringLiteral("pdf")},
        [&](const QString &chosen) { path = chosen; });
    ASSERT_TRUE(testsupport::waitUntil([] { return openDialog() != nullptr; }));
    dialog = openDialog();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Als PDF exportieren"));
    EXPECT_EQ(dialog->directory().absolutePath(), folder);
    dialog->reject();
    ASSERT_TRUE(testsupport::waitUntil([&] { return path.has_value(); }));
    EXPECT_EQ(*path, QString()) << "a cancelled export hears so";
}

} // namespace

#include "ShellFixture.h"
#include "preview/QStringPrinter.h"

#include "Velto/model/FilePanels.h"
#include "Velto/preview/Export.h"
#include "Velto/preview/PreviewServices.h"
#include "Velto/shell/ShellDialogs.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "platform/Clock.h"
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

TEST_F(Dialogs, dialogsHaveGermanTitlesAndStartInTheDocumentsFolderElseTheOpenFolderElseHome)
{
    EXPECT_EQ(ShellDialogs::startFolder(*ws), QDir::homePath());
    const QString folder = tmp.filePath(QStringLiteral("docs"));
    ws->setFolderURL(QUrl::fromLocalFile(folder));
    EXPECT_EQ(ShellDialogs::startFolder(*ws), folder);
    ASSERT_TRUE(write(QStringLiteral("sub/a.md"), "x"));
    ws->openFile(docURL(QStringLiteral("sub/a.md")));
    EXPECT_EQ(ShellDialogs::startFolder(*ws), docPath(QStringLiteral("sub")));

    DialogFilePanels dialogs([folder] { return folder; });
    dialogs.chooseSaveLocation(QStringLiteral("Untitled.md"), [](std::optional<QUrl>) {});
    QFileDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Speichern unter"));
    EXPECT_EQ(dialog->directory().absolutePath(), folder);
    dialog->reject();

    std::optional<QString> path;
    Clock clock;
    const MarkdownPageBuilder pages {QString()};
    PageSchemeHandler pageHandler;
    ShellDialogs::exportEnvironment(folder, {clock, pages, pageHandler})
        .chooseFile(
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

TEST_F(Dialogs, oneClickOnAFileInTheOpenDialogChoosesIt)
{
    ASSERT_TRUE(write(QStringLiteral("a.md"), "x"));
    DialogFilePanels dialogs([this] { return tmp.filePath(QStringLiteral("docs")); });
    std::optional<std::optional<QUrl>> answer;
    dialogs.chooseOpenItem(QStringLiteral("Datei oder Ordner auswählen"),
                           [&](std::optional<QUrl> url) { answer = url; });
    QFileDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    auto *model = dialog->findChild<QFileSystemModel *>();
    QAbstractItemView *view = nullptr;
    for (auto *candidate : dialog->findChildren<QAbstractItemView *>()) {
        const QString name = candidate->objectName();
        if (candidate->isVisible() && (name == u"treeView" || name == u"listView"))
            view = candidate;
    }
    ASSERT_TRUE(model && view);
    // The folder is read in the background; the file's row appears when it is in.
    const auto file = [&] { return view->visualRect(model->index(docPath("a.md"))); };
    ASSERT_TRUE(testsupport::waitUntil([&] { return file().isValid(); }));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, file().center());
    ASSERT_TRUE(testsupport::waitUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, docURL(QStringLiteral("a.md")));
}

} // namespace

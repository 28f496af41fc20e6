#include "Velto/model/FilePanels.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QFileDialog *openDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

struct Answer
{
    bool called = false;
    std::optional<QUrl> url;
};

} // namespace

TEST(DialogFilePanels, saveDialogReturnsAtOnceAndAddsTheMarkdownExtension)
{
    QTemporaryDir tmp;
    DialogFilePanels panels;
    Answer answer;
    panels.chooseSaveLocation(QStringLiteral("Untitled.md"), [&](std::optional<QUrl> url) {
        answer = {true, url};
    });
    EXPECT_FALSE(answer.called) << "non-blocking";
    QFileDialog *dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    dialog->setDirectory(tmp.path());
    dialog->selectFile(tmp.filePath(QStringLiteral("notes.txt")));
    static_cast<QDialog *>(dialog)->accept();
    ASSERT_TRUE(testsupport::waitUntil([&] { return answer.called; }));
    EXPECT_EQ(answer.url, QUrl::fromLocalFile(tmp.filePath(QStringLiteral("notes.txt.md"))));
    ASSERT_TRUE(testsupport::waitUntil([] { return openDialog() == nullptr; }));

    answer = {};
    panels.chooseSaveLocation(QStringLiteral("Untitled.md"), [&](std::optional<QUrl> url) {
        answer = {true, url};
    });
    dialog = openDialog();
    ASSERT_TRUE(dialog);
    dialog->reject();
    ASSERT_TRUE(testsupport::waitUntil([&] { return answer.called; }));
    EXPECT_FALSE(answer.url);
}

TEST(DialogFilePanels, openDialogTakesAFileOrAFolder)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(testsupport::writeFile(tmp.filePath(QStringLiteral("doc.md")), "x"));
    QDir(tmp.path()).mkdir(QStringLiteral("folder"));
    DialogFilePanels panels;
    for (const QString &name : {QStringLiteral("doc.md"), QStringLiteral("folder")}) {
        Answer answer;
        panels.chooseOpenItem(QStringLiteral("Choose"), [&](std::optional<QUrl> url) {
            answer = {true, url};
        });
        EXPECT_FALSE(answer.called);
        QFileDialog *dialog = openDialog();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Choose"));
        dialog->setDirectory(tmp.path());
        dialog->selectFile(tmp.filePath(name));
        static_cast<QDialog *>(dialog)->accept();
        ASSERT_TRUE(testsupport::waitUntil([&] { return answer.called; })) << name.toStdString();
        EXPECT_EQ(answer.url, QUrl::fromLocalFile(tmp.filePath(name)));
        ASSERT_TRUE(testsupport::waitUntil([] { return openDialog() == nullptr; }));
    }
}

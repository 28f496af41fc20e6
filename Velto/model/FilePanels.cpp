#include "Velto/model/FilePanels.h"

#include "platform/L10n.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QPointer>

namespace {

// Qt has no dialog mode for "a file or a folder": a non-native dialog in directory mode that
// still lists files, and that takes any existing item as the answer.
class FileOrFolderDialog : public QFileDialog
{
public:
    FileOrFolderDialog()
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly, false);
        // One click on a file is the choice; folders keep the usual select-then-choose, so a
        // double click can still enter them.
        for (auto *view : findChildren<QAbstractItemView *>()) {
            if (view->objectName() != u"listView" && view->objectName() != u"treeView")
                continue;
            connect(view, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
                const QString path = index.data(QFileSystemModel::FilePathRole).toString();
                if (path.isEmpty() || !QFileInfo(path).isFile())
                    return;
                selectFile(path);
                QDialog::accept();
            });
        }
    }

protected:
    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && QFileInfo(files.first()).isFile()) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

bool hasMarkdownSuffix(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QStringLiteral("md") || suffix == QStringLiteral("markdown");
}

// Gives every chosen name the Markdown extension before the dialog's own overwrite check runs,
// so the file that is finally written is the one the user confirmed.
class MarkdownSaveDialog : public QFileDialog
{
public:
    MarkdownSaveDialog()
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        setNameFilter(QStringLiteral("Markdown (*.md *.markdown)"));
        setDefaultSuffix(QStringLiteral("md"));
    }

protected:
    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && !files.first().isEmpty() && !QFileInfo(files.first()).isDir()
            && !hasMarkdownSuffix(files.first()))
            selectFile(files.first() + QStringLiteral(".md"));
        QFileDialog::accept();
    }
};

void run(QFileDialog *dialog, FilePanels::Completion completion)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [dialog, completion = std::move(completion)](int result) {
                         std::optional<QUrl> chosen;
                         const QStringList files = dialog->selectedFiles();
                         if (result == QDialog::Accepted && !files.isEmpty()
                             && !files.first().isEmpty())
                             chosen = QUrl::fromLocalFile(files.first());
                         completion(chosen);
                     });
    dialog->show();
}

} // namespace

FilePanels::~FilePanels() = default;

DialogFilePanels::DialogFilePanels(std::function<QString()> startFolder)
    : m_startFolder(std::move(startFolder))
{
}

QString DialogFilePanels::startFolder() const
{
    const QString folder = m_startFolder ? m_startFolder() : QString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void DialogFilePanels::chooseOpenItem(const QString &message, Completion completion)
{
    auto *dialog = new FileOrFolderDialog;
    dialog->setWindowTitle(message);
    dialog->setDirectory(startFolder());
    run(dialog, std::move(completion));
}

void DialogFilePanels::chooseSaveLocation(const QString &proposedName, Completion completion)
{
    auto *dialog = new MarkdownSaveDialog;
    dialog->setWindowTitle(L10n::text(QStringLiteral("panel.saveAs")));
    dialog->setDirectory(startFolder());
    dialog->selectFile(proposedName);
    run(dialog, std::move(completion));
}

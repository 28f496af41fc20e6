#include "Velto/shell/ShellDialogs.h"

#include "Velto/model/WorkspaceState.h"
#include "Velto/preview/Export.h"
#include "platform/L10n.h"
#include "platform/Paths.h"
#include "platform/SignalWait.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace ShellDialogs {

QString startFolder(const WorkspaceState &workspace)
{
    if (const auto file = workspace.selectedFileURL(); file && file->isLocalFile()) {
        const QString folder = QFileInfo(pathOf(*file)).absolutePath();
        if (QFileInfo(folder).isDir())
            return folder;
    }
    if (const auto folder = workspace.folderURL(); folder && folder->isLocalFile()) {
        const QString path = pathOf(*folder);
        if (QFileInfo(path).isDir())
            return path;
    }
    return QDir::homePath();
}

ExportEnvironment exportEnvironment(const QString &startFolder, const PreviewServices &services)
{
    ExportEnvironment env = ExportEnvironment::of(services);
    env.chooseFile = [startFolder](const ExportEnvironment::FileRequest &request,
                                   std::function<void(const QString &)> done) {
        auto *dialog = new QFileDialog;
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setWindowTitle(L10n::text(request.defaultSuffix == u"pdf"
                                              ? QStringLiteral("panel.exportPDF")
                                              : QStringLiteral("panel.exportHTML")));
        dialog->setNameFilter(request.nameFilter);
        dialog->setDefaultSuffix(request.defaultSuffix);
        dialog->setDirectory(startFolder);
        dialog->selectFile(request.proposedName);
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done](int result) {
            const QStringList files = dialog->selectedFiles();
            done(result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString());
        });
        dialog->show();
    };
    return env;
}

QCoro::Task<UnsavedChoice> askAboutUnsavedChanges(QWidget *window, QString documentName)
{
    QPointer<QMessageBox> box = new QMessageBox(window);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(L10n::text(QStringLiteral("unsaved.title")));
    box->setText(L10n::format(QStringLiteral("unsaved.message"), {documentName}));
    box->setInformativeText(L10n::text(QStringLiteral("unsaved.detail")));
    QPushButton *save
        = box->addButton(L10n::text(QStringLiteral("unsaved.save")), QMessageBox::AcceptRole);
    QPushButton *discard = box->addButton(L10n::text(QStringLiteral("unsaved.discard")),
                                          QMessageBox::DestructiveRole);
    QPushButton *cancel
        = box->addButton(L10n::text(QStringLiteral("unsaved.cancel")), QMessageBox::RejectRole);
    box->setDefaultButton(save);
    box->setEscapeButton(cancel);
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
    // Also resumes when the box goes without an answer (its window closed).
    co_await SignalWait(box.data(), &QDialog::finished);
    if (!box)
        co_return UnsavedChoice::cancel;
    QAbstractButton *clicked = box->clickedButton();
    box->deleteLater();
    if (clicked == save)
        co_return UnsavedChoice::save;
    if (clicked == discard)
        co_return UnsavedChoice::discard;
    co_return UnsavedChoice::cancel;
}

} // namespace ShellDialogs

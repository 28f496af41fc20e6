#include "Velto/preview/Export.h"

#include "core/markdown/MarkdownParser.h"

#include <QApplication>
#include <QFileDialog>
#include <QTimer>

ExportEnvironment ExportEnvironment::standard()
{
    ExportEnvironment env;
    env.chooseFile = [](const FileRequest &request, std::function<void(const QString &)> done) {
        auto *dialog = new QFileDialog(QApplication::activeWindow());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setNameFilter(request.nameFilter);
        dialog->setDefaultSuffix(request.defaultSuffix);
        dialog->selectFile(request.proposedName);
        dialog->setModal(false);
        QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                         [done](const QString &path) { done(path); });
        dialog->show();
    };
    env.delay = [](int ms, QObject *context, std::function<void()> fn) {
        QTimer::singleShot(ms, context, std::move(fn));
    };
    env.renderExportPage
        = [](const QString &markdown) { return MarkdownParser::renderExportPage(markdown); };
    env.previewScripts = [] { return MarkdownParser::previewScripts(); };
    return env;
}

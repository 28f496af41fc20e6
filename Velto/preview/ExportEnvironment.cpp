#include "Velto/preview/Export.h"

#include "core/markdown/MarkdownParser.h"

#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QTimer>

QWidget *ExportEnvironment::panelParent()
{
    // The window the user exported from. Not simply the active window: under a window manager
    // that can be the hidden web view of a PDF export, which is deleted right before its panel
    // shows and would take the panel with it.
    auto mainWindow = [](QWidget *w) {
        return qobject_cast<QMainWindow *>(w) && w->isVisible()
                && !w->testAttribute(Qt::WA_DontShowOnScreen)
            ? w
            : nullptr;
    };
    if (QWidget *active = QApplication::activeWindow(); mainWindow(active))
        return active;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (mainWindow(w))
            return w;
    }
    return nullptr;
}

ExportEnvironment ExportEnvironment::standard()
{
    ExportEnvironment env;
    env.chooseFile = [](const FileRequest &request, std::function<void(const QString &)> done) {
        auto *dialog = new QFileDialog(panelParent());
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

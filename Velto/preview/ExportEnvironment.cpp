#include "Velto/preview/Export.h"

#include "Velto/preview/PreviewServices.h"
#include "core/markdown/MarkdownPageBuilder.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>

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

ExportEnvironment ExportEnvironment::of(const PreviewServices &services)
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
    env.delay = [&clock = services.clock](int ms, QObject *context, std::function<void()> fn) {
        clock.singleShot(std::chrono::milliseconds(ms), context, std::move(fn));
    };
    env.renderExportPage = [&pages = services.pages](const QString &markdown) {
        return pages.renderExportPage(markdown);
    };
    env.previewScripts = [&pages = services.pages] { return pages.previewScripts(); };
    env.pageHandler = &services.pageHandler;
    return env;
}

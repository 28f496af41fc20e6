#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/root/AppContext.h"
#include "Velto/shell/VeltoApp.h"
#include "core/markdown/MarkdownDocument.h"
#include "platform/HugePageHeap.h"

#include <QApplication>

#include <unistd.h>

// The process takes no command line: documents are opened through the window, the history or
// the local API.
int main(int argc, char *argv[])
{
    restartWithHugePageHeap(argv);
    // Chromium refuses to start its sandbox for root; the preview would take the program down.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    PageSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    VeltoApp::prepare(app);
    MarkdownDocument::registerExtensions();

    AppContext context;
    VeltoApp velto(context.shellServices());
    velto.openMainWindow();
    return app.exec();
}

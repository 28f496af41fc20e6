#include "Velto/shell/ApiWiring.h"

#include "Velto/api/DebugServer.h"

void exposeWindowToApi(DebugServer &server, WorkspaceState &workspace, QWebEngineView *preview)
{
    server.setWorkspace(&workspace);
    server.setWebView(preview);
}

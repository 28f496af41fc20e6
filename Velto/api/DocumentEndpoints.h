#pragma once

#include "Velto/api/ApiHttp.h"

#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

class AppSettings;
class WorkspaceState;

// The document and workspace endpoints: they read and change the workspace the server serves, on
// the main thread, through its observed setters and document operations. A null workspace gets
// each route's "no workspace" answer.
class DocumentEndpoints
{
public:
    explicit DocumentEndpoints(AppSettings &settings);

    ApiAnswer status(const WorkspaceState *workspace);
    ApiAnswer workspaceInfo(const WorkspaceState *workspace);
    static ApiAnswer content(const WorkspaceState *workspace);
    ApiAnswer setContent(WorkspaceState *workspace, const ApiRequest &request);
    ApiAnswer insert(WorkspaceState *workspace, const ApiRequest &request);
    ApiAnswer replace(WorkspaceState *workspace, const ApiRequest &request);
    ApiAnswer save(WorkspaceState *workspace);
    static ApiAnswer outline(const WorkspaceState *workspace);
    static ApiAnswer search(const WorkspaceState *workspace, const ApiRequest &request);
    static ApiAnswer folderFiles(const WorkspaceState *workspace, const ApiRequest &request);
    static ApiAnswer folderOpen(WorkspaceState *workspace, const ApiRequest &request);
    static ApiAnswer frontMatter(const WorkspaceState *workspace);

    // These may wait: a modified untitled document is saved through a panel first.
    static QCoro::Task<ApiAnswer> open(QPointer<WorkspaceState> workspace, ApiRequest request);
    static QCoro::Task<ApiAnswer> create(QPointer<WorkspaceState> workspace, ApiRequest request);

private:
    // Parsing is linear in the text; workspace info is polled, so keep the count per revision.
    qsizetype outlineCount(const WorkspaceState &workspace);

    AppSettings &m_settings;
    const WorkspaceState *m_outlineWorkspace = nullptr;
    quint64 m_outlineRevision = 0;
    qsizetype m_outlineCount = 0;
};

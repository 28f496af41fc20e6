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
    struct Counts
    {
        qsizetype characters = 0;
        qsizetype words = 0;
    };
    // Counting is linear in the text; status is polled, so keep the counts of the last text.
    Counts counts(const QString &text);
    qsizetype characterCount(const QString &text) { return counts(text).characters; }

    AppSettings &m_settings;
    QString m_countedText;
    Counts m_counts;
};

#pragma once

#include <QString>
#include <QStringList>

// The rows of the API's route table, in the order they are tried.
enum class ApiRoute {
    OpenApi,
    Docs,
    SyncStatus,
    SyncTrigger,
    Status,
    Workspace,
    PreviewCheck,
    LiveUpdateTest,
    GetContent,
    SetContent,
    Insert,
    Replace,
    Open,
    Create,
    Save,
    Outline,
    Search,
    FolderFiles,
    FolderOpen,
    GetSelection,
    SetSelection,
    Theme,
    ViewMode,
    FrontMatter,
    AIProvider,
    AppSettings,
    Screenshot,
    ScreenshotWindows,
    PreviewEval,
    PreviewDom,
    EndpointList, // anything else
};

namespace apiroutes {

// First matching row: exact rows need method and whole target to match (a query string defeats
// them); prefix rows accept any method and any target starting with their path.
ApiRoute match(const QString &method, const QString &target);

// Targets that need no token: exact match, any method.
bool isTokenExempt(const QString &target);

// The fixed texts of the endpoint list answer.
const QStringList &endpointList();

} // namespace apiroutes

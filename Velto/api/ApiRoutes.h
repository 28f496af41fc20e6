#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>

#include <span>

// The routes of the API.
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

// One row of the route table: how a request reaches the route and how the route is described.
// The router, the token check, the endpoint list and the OpenAPI document all read this table, so
// they cannot disagree.
struct ApiRouteRow
{
    ApiRoute route;
    // Exact rows need this method; prefix rows accept any method and are described under it.
    QLatin1StringView method;
    QLatin1StringView path;
    // Any method, any target starting with the path.
    bool prefix = false;
    // Served without a token: the exact path, any method.
    bool tokenExempt = false;
    // In the endpoint list as "<method> <path><hint>".
    bool listed = false;
    QLatin1StringView hint = {};
    // Has an operation in the OpenAPI document.
    bool documented = false;
};

namespace apiroutes {

// Every row, in the order of the endpoint list (the unlisted rows last). Rows never overlap, so
// the order does not decide which row a request reaches.
std::span<const ApiRouteRow> rows();
// Nothing for EndpointList.
const ApiRouteRow *rowOf(ApiRoute route);

// The matching row's route: exact rows need method and whole target to match (a query string
// defeats them); prefix rows accept any method and any target starting with their path.
ApiRoute match(const QString &method, const QString &target);

// Targets that need no token: exact match, any method.
bool isTokenExempt(const QString &target);

// The texts of the endpoint list answer.
const QStringList &endpointList();

} // namespace apiroutes

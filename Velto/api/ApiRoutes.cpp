#include "Velto/api/ApiRoutes.h"

#include <array>

namespace apiroutes {

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr std::array<ApiRouteRow, 30> table {{
    {ApiRoute::Docs, "GET"_L1, "/api/docs"_L1, false, true, true},
    {ApiRoute::OpenApi, "GET"_L1, "/api/openapi.json"_L1, false, true, true},
    {ApiRoute::Status, "GET"_L1, "/api/status"_L1, false, false, true, {}, true},
    {ApiRoute::Workspace, "GET"_L1, "/api/workspace"_L1, false, false, true, {}, true},
    {ApiRoute::GetContent, "GET"_L1, "/api/document/content"_L1, false, false, true, {}, true},
    {ApiRoute::SetContent, "POST"_L1, "/api/document/content"_L1, false, false, true,
     " {content}"_L1, true},
    {ApiRoute::Insert, "POST"_L1, "/api/document/insert"_L1, false, false, true,
     " {line,column,text}"_L1, true},
    {ApiRoute::Replace, "POST"_L1, "/api/document/replace"_L1, false, false, true,
     " {pattern,replacement,regex?}"_L1, true},
    {ApiRoute::Open, "POST"_L1, "/api/document/open"_L1, false, false, true, " {path}"_L1, true},
    {ApiRoute::Create, "POST"_L1, "/api/document/create"_L1, false, false, true,
     " {path?,content?}"_L1, true},
    {ApiRoute::Save, "POST"_L1, "/api/document/save"_L1, false, false, true, {}, true},
    {ApiRoute::Outline, "GET"_L1, "/api/document/outline"_L1, false, false, true, {}, true},
    {ApiRoute::Search, "GET"_L1, "/api/document/search"_L1, true, false, true,
     "?query=&regex=false"_L1, true},
    {ApiRoute::FolderFiles, "GET"_L1, "/api/folder/files"_L1, true, false, true, "?glob="_L1, true},
    {ApiRoute::FolderOpen, "POST"_L1, "/api/folder/open"_L1, false, false, true, " {path}"_L1,
     true},
    {ApiRoute::GetSelection, "GET"_L1, "/api/selection"_L1, false, false, true, {}, true},
    {ApiRoute::SetSelection, "POST"_L1, "/api/selection"_L1, false, false, true, " {start,end}"_L1,
     true},
    {ApiRoute::Theme, "POST"_L1, "/api/theme"_L1, false, false, true, " {id}"_L1, true},
    {ApiRoute::ViewMode, "POST"_L1, "/api/viewmode"_L1, false, false, true, " {focus?,wide?}"_L1,
     true},
    {ApiRoute::FrontMatter, "GET"_L1, "/api/frontmatter"_L1, false, false, true, {}, true},
    {ApiRoute::PreviewCheck, "GET"_L1, "/api/preview/check"_L1, false, false, true, {}, true},
    {ApiRoute::SyncStatus, "GET"_L1, "/api/sync/status"_L1},
    {ApiRoute::SyncTrigger, "POST"_L1, "/api/sync/trigger"_L1},
    {ApiRoute::LiveUpdateTest, "GET"_L1, "/api/test/liveupdate"_L1},
    {ApiRoute::AIProvider, "POST"_L1, "/api/ai/provider"_L1, false, false, false, {}, true},
    {ApiRoute::AppSettings, "POST"_L1, "/api/app/settings"_L1, false, false, false, {}, true},
    {ApiRoute::Screenshot, "GET"_L1, "/api/screenshot"_L1, false, false, false, {}, true},
    {ApiRoute::ScreenshotWindows,
     "GET"_L1,
     "/api/screenshot/windows"_L1,
     false,
     false,
     false,
     {},
     true},
    {ApiRoute::PreviewEval, "GET"_L1, "/api/preview/eval"_L1, true, false, false, {}, true},
    {ApiRoute::PreviewDom, "GET"_L1, "/api/preview/dom"_L1, false, false, false, {}, true},
}};

} // namespace

std::span<const ApiRouteRow> rows()
{
    return table;
}

const ApiRouteRow *rowOf(ApiRoute route)
{
    for (const ApiRouteRow &r : table) {
        if (r.route == route)
            return &r;
    }
    return nullptr;
}

ApiRoute match(const QString &method, const QString &target)
{
    for (const ApiRouteRow &r : table) {
        if (r.prefix ? target.startsWith(r.path) : method == r.method && target == r.path)
            return r.route;
    }
    return ApiRoute::EndpointList;
}

bool isTokenExempt(const QString &target)
{
    for (const ApiRouteRow &r : table) {
        if (r.tokenExempt && target == r.path)
            return true;
    }
    return false;
}

const QStringList &endpointList()
{
    static const QStringList list = [] {
        QStringList texts;
        for (const ApiRouteRow &r : table) {
            if (r.listed)
                texts << QString(r.method).leftJustified(4) + u' ' + r.path + r.hint;
        }
        return texts;
    }();
    return list;
}

} // namespace apiroutes

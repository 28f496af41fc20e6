#include "Velto/api/ApiRoutes.h"

#include <array>

namespace apiroutes {

namespace {

struct Row
{
    ApiRoute route;
    QLatin1StringView method; // empty for prefix rows: any method
    QLatin1StringView path;
    bool prefix;
};

using namespace Qt::Literals::StringLiterals;

constexpr std::array rows {
    Row {ApiRoute::OpenApi, "GET"_L1, "/api/openapi.json"_L1, false},
    Row {ApiRoute::Docs, "GET"_L1, "/api/docs"_L1, false},
    Row {ApiRoute::SyncStatus, "GET"_L1, "/api/sync/status"_L1, false},
    Row {ApiRoute::SyncTrigger, "POST"_L1, "/api/sync/trigger"_L1, false},
    Row {ApiRoute::Status, "GET"_L1, "/api/status"_L1, false},
    Row {ApiRoute::Workspace, "GET"_L1, "/api/workspace"_L1, false},
    Row {ApiRoute::PreviewCheck, "GET"_L1, "/api/preview/check"_L1, false},
    Row {ApiRoute::LiveUpdateTest, "GET"_L1, "/api/test/liveupdate"_L1, false},
    Row {ApiRoute::GetContent, "GET"_L1, "/api/document/content"_L1, false},
    Row {ApiRoute::SetContent, "POST"_L1, "/api/document/content"_L1, false},
    Row {ApiRoute::Insert, "POST"_L1, "/api/document/insert"_L1, false},
    Row {ApiRoute::Replace, "POST"_L1, "/api/document/replace"_L1, false},
    Row {ApiRoute::Open, "POST"_L1, "/api/document/open"_L1, false},
    Row {ApiRoute::Create, "POST"_L1, "/api/document/create"_L1, false},
    Row {ApiRoute::Save, "POST"_L1, "/api/document/save"_L1, false},
    Row {ApiRoute::Outline, "GET"_L1, "/api/document/outline"_L1, false},
    Row {ApiRoute::Search, {}, "/api/document/search"_L1, true},
    Row {ApiRoute::FolderFiles, {}, "/api/folder/files"_L1, true},
    Row {ApiRoute::FolderOpen, "POST"_L1, "/api/folder/open"_L1, false},
    Row {ApiRoute::GetSelection, "GET"_L1, "/api/selection"_L1, false},
    Row {ApiRoute::SetSelection, "POST"_L1, "/api/selection"_L1, false},
    Row {ApiRoute::Theme, "POST"_L1, "/api/theme"_L1, false},
    Row {ApiRoute::ViewMode, "POST"_L1, "/api/viewmode"_L1, false},
    Row {ApiRoute::FrontMatter, "GET"_L1, "/api/frontmatter"_L1, false},
    Row {ApiRoute::AIProvider, "POST"_L1, "/api/ai/provider"_L1, false},
    Row {ApiRoute::AppSettings, "POST"_L1, "/api/app/settings"_L1, false},
    Row {ApiRoute::Screenshot, "GET"_L1, "/api/screenshot"_L1, false},
    Row {ApiRoute::ScreenshotWindows, "GET"_L1, "/api/screenshot/windows"_L1, false},
    Row {ApiRoute::PreviewEval, {}, "/api/preview/eval"_L1, true},
    Row {ApiRoute::PreviewDom, "GET"_L1, "/api/preview/dom"_L1, false},
};

} // namespace

ApiRoute match(const QString &method, const QString &target)
{
    for (const Row &row : rows) {
        if (row.prefix) {
            if (target.startsWith(row.path))
                return row.route;
        } else if (method == row.method && target == row.path) {
            return row.route;
        }
    }
    return ApiRoute::EndpointList;
}

bool isTokenExempt(const QString &target)
{
    return target == "/api/docs"_L1 || target == "/api/openapi.json"_L1;
}

const QStringList &endpointList()
{
    static const QStringList list {
        u"GET  /api/docs"_s,
        u"GET  /api/openapi.json"_s,
        u"GET  /api/status"_s,
        u"GET  /api/workspace"_s,
        u"GET  /api/document/content"_s,
        u"POST /api/document/content {content}"_s,
        u"POST /api/document/insert {line,column,text}"_s,
        u"POST /api/document/replace {pattern,replacement,regex?}"_s,
        u"POST /api/document/open {path}"_s,
        u"POST /api/document/create {path?,content?}"_s,
        u"POST /api/document/save"_s,
        u"GET  /api/document/outline"_s,
        u"GET  /api/document/search?query=&regex=false"_s,
        u"GET  /api/folder/files?glob="_s,
        u"POST /api/folder/open {path}"_s,
        u"GET  /api/selection"_s,
        u"POST /api/selection {start,end}"_s,
        u"POST /api/theme {id}"_s,
        u"POST /api/viewmode {focus?,wide?}"_s,
        u"GET  /api/frontmatter"_s,
        u"GET  /api/preview/check"_s,
    };
    return list;
}

} // namespace apiroutes

#include "Velto/api/ApiRoutes.h"
#include "Velto/api/OpenApiDocument.h"
#include "tools/velto-mcp-server/McpBridge.h"

#include <QJsonArray>
#include <QSet>

#include <gtest/gtest.h>

namespace {

TEST(ApiRouteTable, rowsNeverOverlapSoEachRowReachesItsOwnRoute)
{
    for (const ApiRouteRow &row : apiroutes::rows()) {
        EXPECT_EQ(apiroutes::match(row.method, row.path), row.route) << row.path.data();
        for (const ApiRouteRow &other : apiroutes::rows()) {
            if (row.prefix && &other != &row) {
                EXPECT_FALSE(QString(other.path).startsWith(row.path)) << other.path.data();
            }
        }
    }
}

TEST(ApiRouteTable, theOpenApiDocumentDescribesExactlyTheDocumentedRows)
{
    const QJsonObject paths = openapi::document(1)[u"paths"].toObject();
    int operations = 0;
    for (auto path = paths.begin(); path != paths.end(); ++path) {
        const QJsonObject methods = path->toObject();
        for (auto method = methods.begin(); method != methods.end(); ++method) {
            ++operations;
            const ApiRoute route = apiroutes::match(method.key().toUpper(), path.key());
            const ApiRouteRow *row = apiroutes::rowOf(route);
            ASSERT_NE(row, nullptr) << qPrintable(path.key());
            EXPECT_TRUE(row->documented) << qPrintable(path.key());
        }
    }
    int documented = 0;
    for (const ApiRouteRow &row : apiroutes::rows())
        documented += row.documented ? 1 : 0;
    EXPECT_EQ(operations, documented);
}

// The bridge is a program of its own and keeps its own tool list; it must only call documented
// routes, under their method, with arguments the route describes.
TEST(ApiRouteTable, everyMcpToolCallsADocumentedRouteWithArgumentsItDescribes)
{
    const QJsonObject paths = openapi::document(1)[u"paths"].toObject();
    for (const McpBridge::ToolRoute &tool : McpBridge::toolRoutes()) {
        SCOPED_TRACE(tool.name.toStdString());
        const ApiRouteRow *row = apiroutes::rowOf(
            apiroutes::match(QString::fromLatin1(tool.method), QString::fromLatin1(tool.path)));
        ASSERT_NE(row, nullptr);
        EXPECT_TRUE(row->documented && row->listed);
        EXPECT_EQ(QString(row->method), QString::fromLatin1(tool.method));

        const QJsonObject op = paths[QString(row->path)][QString(row->method).toLower()].toObject();
        QSet<QString> described;
        for (const QJsonValue &parameter : op[u"parameters"].toArray())
            described << parameter[u"name"].toString();
        const QJsonObject schema
            = op[u"requestBody"][u"content"][u"application/json"][u"schema"].toObject();
        for (const QString &property : schema[u"properties"].toObject().keys())
            described << property;
        for (const QString &argument : tool.forwarded)
            EXPECT_TRUE(described.contains(argument)) << argument.toStdString();
    }
}

} // namespace

#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The bridge's tools: what each one offers an MCP client (name, description, input schema) and
// the request to Velto's API it stands for.
struct McpTool
{
    QString name;
    QString description;
    QJsonObject properties;
    QStringList required;
    QByteArray method;
    QByteArray path;
    // Body keys passed on from the arguments (POST), or query parameters (GET with query).
    QStringList forwarded;
    bool query = false;

    // Why the arguments cannot be passed on (missing or of the wrong type), if they cannot.
    std::optional<QString> argumentProblem(const QJsonObject &arguments) const;
    // The request target and body for the arguments: query parameters on the path, or the
    // forwarded members as a JSON body for POST.
    QByteArray target(const QJsonObject &arguments) const;
    QByteArray body(const QJsonObject &arguments) const;
};

namespace mcptools {

const QList<McpTool> &all();
// The tool of that name; null for an unknown one.
const McpTool *find(const QString &name);
// The tools as the answer to tools/list lists them.
QJsonArray list();

} // namespace mcptools

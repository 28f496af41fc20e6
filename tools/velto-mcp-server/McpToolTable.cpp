#include "tools/velto-mcp-server/McpToolTable.h"

#include "platform/JsonFields.h"

#include <QJsonDocument>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {

QJsonObject typed(const QString &type, const QString &description)
{
    return QJsonObject {{u"type"_s, type}, {u"description"_s, description}};
}

bool hasType(const QJsonValue &value, const QString &type)
{
    if (type == u"string"_s)
        return value.isString();
    if (type == u"boolean"_s)
        return value.isBool();
    if (type == u"integer"_s)
        return jsonfields::wholeNumber(value).has_value();
    return true;
}

} // namespace

const QList<McpTool> &mcptools::all()
{
    static const QList<McpTool> list {
        {u"get_status"_s,
         u"Editor status: open file and folder, text length, word count, whether the document has "
         u"unsaved changes, theme and view modes."_s,
         {},
         {},
         "GET",
         "/api/status",
         {}},
        {u"get_workspace"_s,
         u"Workspace metadata: folder, open file, counts, reading time, number of headings and "
         u"the window title."_s,
         {},
         {},
         "GET",
         "/api/workspace",
         {}},
        {u"get_document"_s,
         u"The full Markdown text of the open document."_s,
         {},
         {},
         "GET",
         "/api/document/content",
         {}},
        {u"set_document"_s,
         u"Replaces the whole text of the open document (not saved to disk until save_document)."_s,
         {{u"content"_s, typed(u"string"_s, u"The new document text"_s)}},
         {u"content"_s},
         "POST",
         "/api/document/content",
         {u"content"_s}},
        {u"insert_text"_s,
         u"Inserts text at a 0-based line and column (columns count characters). A column past "
         u"the line end inserts at its end; a line past the last inserts at the document end."_s,
         {{u"text"_s, typed(u"string"_s, u"Text to insert"_s)},
          {u"line"_s, typed(u"integer"_s, u"0-based line, default 0"_s)},
          {u"column"_s, typed(u"integer"_s, u"0-based column in characters, default 0"_s)}},
         {u"text"_s},
         "POST",
         "/api/document/insert",
         {u"text"_s, u"line"_s, u"column"_s}},
        {u"replace_text"_s,
         u"Replaces every occurrence of a pattern in the open document. With regex true the "
         u"pattern is a regular expression and $1, $2 … in the replacement insert groups."_s,
         {{u"pattern"_s, typed(u"string"_s, u"Text or regular expression to find"_s)},
          {u"replacement"_s, typed(u"string"_s, u"Replacement text"_s)},
          {u"regex"_s, typed(u"boolean"_s, u"Treat the pattern as a regular expression"_s)}},
         {u"pattern"_s, u"replacement"_s},
         "POST",
         "/api/document/replace",
         {u"pattern"_s, u"replacement"_s, u"regex"_s}},
        {u"open_document"_s,
         u"Opens a Markdown file by its absolute path (a modified document is saved first)."_s,
         {{u"path"_s, typed(u"string"_s, u"Absolute file path"_s)}},
         {u"path"_s},
         "POST",
         "/api/document/open",
         {u"path"_s}},
        {u"create_document"_s,
         u"Starts a new document with optional content; with a path it is written there and "
         u"becomes the open file."_s,
         {{u"path"_s, typed(u"string"_s, u"Optional absolute path to save the new document to"_s)},
          {u"content"_s, typed(u"string"_s, u"Initial text, default empty"_s)}},
         {},
         "POST",
         "/api/document/create",
         {u"path"_s, u"content"_s}},
        {u"save_document"_s,
         u"Saves the open document to its file."_s,
         {},
         {},
         "POST",
         "/api/document/save",
         {}},
        {u"get_outline"_s,
         u"The headings of the open document with level, title and 1-based line."_s,
         {},
         {},
         "GET",
         "/api/document/outline",
         {}},
        {u"search_document"_s,
         u"Finds text in the open document (at most 100 hits, 0-based lines)."_s,
         {{u"query"_s, typed(u"string"_s, u"Text or regular expression to find"_s)},
          {u"regex"_s, typed(u"boolean"_s, u"Treat the query as a regular expression"_s)}},
         {u"query"_s},
         "GET",
         "/api/document/search",
         {u"query"_s, u"regex"_s},
         true},
        {u"list_files"_s,
         u"Lists the files of the open folder, optionally filtered by a name pattern such as "
         u"*.md."_s,
         {{u"glob"_s, typed(u"string"_s, u"Name filter, default *"_s)}},
         {},
         "GET",
         "/api/folder/files",
         {u"glob"_s},
         true},
        {u"open_folder"_s,
         u"Opens a folder by its absolute path as the workspace."_s,
         {{u"path"_s, typed(u"string"_s, u"Absolute folder path"_s)}},
         {u"path"_s},
         "POST",
         "/api/folder/open",
         {u"path"_s}},
        {u"get_frontmatter"_s,
         u"The YAML front matter block at the start of the open document, as text."_s,
         {},
         {},
         "GET",
         "/api/frontmatter",
         {}},
    };
    return list;
}

const McpTool *mcptools::find(const QString &name)
{
    for (const McpTool &tool : all())
        if (tool.name == name)
            return &tool;
    return nullptr;
}

QJsonArray mcptools::list()
{
    QJsonArray list;
    for (const McpTool &tool : all()) {
        QJsonObject schema {{u"type"_s, u"object"_s}, {u"properties"_s, tool.properties}};
        if (!tool.required.isEmpty())
            schema.insert(u"required"_s, QJsonArray::fromStringList(tool.required));
        list.append(QJsonObject {{u"name"_s, tool.name},
                                 {u"description"_s, tool.description},
                                 {u"inputSchema"_s, schema}});
    }
    return list;
}

std::optional<QString> McpTool::argumentProblem(const QJsonObject &arguments) const
{
    // A null argument counts as left out, as the API treats it. The API takes a value of the
    // wrong type as absent too and falls back to its default (a line "3" would insert at the
    // start), so a mistyped argument is refused here instead. Every required argument is one of
    // the properties.
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        const QJsonValue value = arguments.value(it.key());
        if (value.isUndefined() || value.isNull()) {
            if (required.contains(it.key()))
                return u"Missing argument \"%1\"."_s.arg(it.key());
            continue;
        }
        const QString type = it.value().toObject().value(u"type"_s).toString();
        if (!hasType(value, type))
            return u"Argument \"%1\" must be %2 %3."_s.arg(
                it.key(), type == u"integer"_s ? u"an"_s : u"a"_s, type);
    }
    return std::nullopt;
}

QByteArray McpTool::target(const QJsonObject &arguments) const
{
    if (!query)
        return path;
    QByteArrayList pairs;
    for (const QString &key : forwarded) {
        const QJsonValue v = arguments.value(key);
        QString text;
        if (v.isString())
            text = v.toString();
        else if (v.isBool())
            text = v.toBool() ? u"true"_s : u"false"_s;
        else
            continue;
        if (!text.isEmpty())
            pairs << key.toUtf8() + '=' + QUrl::toPercentEncoding(text);
    }
    return pairs.isEmpty() ? path : path + '?' + pairs.join('&');
}

QByteArray McpTool::body(const QJsonObject &arguments) const
{
    if (query || method != "POST")
        return {};
    QJsonObject members;
    for (const QString &key : forwarded)
        if (arguments.contains(key))
            members.insert(key, arguments.value(key));
    return QJsonDocument(members).toJson(QJsonDocument::Compact);
}

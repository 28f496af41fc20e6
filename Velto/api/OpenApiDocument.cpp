#include "Velto/api/OpenApiDocument.h"

#include "Velto/api/ApiRoutes.h"
#include "platform/Resources.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <optional>

namespace openapi {

namespace {

using namespace Qt::Literals::StringLiterals;

QJsonObject property(const QString &type, const QString &description = {},
                     const QJsonValue &defaultValue = QJsonValue::Undefined)
{
    QJsonObject p {{u"type"_s, type}};
    if (!description.isEmpty())
        p.insert(u"description"_s, description);
    if (!defaultValue.isUndefined())
        p.insert(u"default"_s, defaultValue);
    return p;
}

// OpenAPI 3.1 schemas are JSON Schema: null is a type of its own (3.0's "nullable" keyword is
// gone, and a 3.1 validator holds a null answer against a plain "string" as wrong).
QJsonObject nullable(const QString &type)
{
    return QJsonObject {{u"type"_s, QJsonArray {type, u"null"_s}}};
}

QJsonObject object(const QJsonObject &properties)
{
    return QJsonObject {{u"type"_s, u"object"_s}, {u"properties"_s, properties}};
}

QJsonObject arrayOf(const QJsonObject &items)
{
    return QJsonObject {{u"type"_s, u"array"_s}, {u"items"_s, items}};
}

const QJsonObject boolean = property(u"boolean"_s);
const QJsonObject integer = property(u"integer"_s);
const QJsonObject string = property(u"string"_s);

QJsonObject jsonAnswer(const QString &description, const QJsonObject &properties)
{
    return QJsonObject {
        {u"description"_s, description},
        {u"content"_s,
         QJsonObject {{u"application/json"_s, QJsonObject {{u"schema"_s, object(properties)}}}}}};
}

QJsonObject textAnswer(const QString &description)
{
    return QJsonObject {
        {u"description"_s, description},
        {u"content"_s, QJsonObject {{u"text/plain"_s, QJsonObject {{u"schema"_s, string}}}}}};
}

QJsonObject bareAnswer(const QString &description)
{
    return QJsonObject {{u"description"_s, description}};
}

QJsonObject requestBody(const QJsonObject &properties, const QStringList &required = {})
{
    QJsonObject schema = object(properties);
    if (!required.isEmpty())
        schema.insert(u"required"_s, QJsonArray::fromStringList(required));
    return QJsonObject {
        {u"required"_s, true},
        {u"content"_s, QJsonObject {{u"application/json"_s, QJsonObject {{u"schema"_s, schema}}}}}};
}

QJsonObject queryParameter(const QString &name, const QString &description,
                           const QJsonObject &schema, bool required)
{
    QJsonObject p {{u"name"_s, name},
                   {u"in"_s, u"query"_s},
                   {u"description"_s, description},
                   {u"schema"_s, schema}};
    if (required)
        p.insert(u"required"_s, true);
    return p;
}

struct Operation
{
    QString summary;
    QString tag;
    QJsonObject answer;
    QJsonObject body = {};
    QJsonArray parameters = {};
    QString description = {};

    QJsonObject toJson() const
    {
        QJsonObject op {{u"summary"_s, summary},
                        {u"tags"_s, QJsonArray {tag}},
                        {u"responses"_s, QJsonObject {{u"200"_s, answer}}}};
        if (!body.isEmpty())
            op.insert(u"requestBody"_s, body);
        if (!parameters.isEmpty())
            op.insert(u"parameters"_s, parameters);
        if (!description.isEmpty())
            op.insert(u"description"_s, description);
        return op;
    }
};

// The operation a documented route is described by.
std::optional<Operation> operation(ApiRoute route)
{
    const QString system = u"System"_s;
    const QString dokument = u"Dokument"_s;
    const QString workspace = u"Workspace"_s;
    const QString editor = u"Editor"_s;
    const QString control = u"App-Steuerung"_s;
    const QString debug = u"Debug"_s;
    const QJsonObject okLength {{u"ok"_s, boolean}, {u"length"_s, integer}};
    // Present with "ok": false: what went wrong.
    const QJsonObject failure = property(u"string"_s, u"Fehlerbeschreibung, wenn ok false ist"_s);

    switch (route) {
    case ApiRoute::Status:
        return Operation {u"Editor-Status"_s, system,
                          jsonAnswer(u"OK"_s,
                                     {{u"running"_s, boolean},
                                      {u"editorTextLength"_s, integer},
                                      {u"selectedFile"_s, nullable(u"string"_s)},
                                      {u"isModified"_s, boolean},
                                      {u"wordCount"_s, integer},
                                      {u"folderURL"_s, nullable(u"string"_s)},
                                      {u"fileTreeCount"_s, integer},
                                      {u"focusMode"_s, boolean},
                                      {u"wideMode"_s, boolean},
                                      {u"theme"_s, string}})};
    case ApiRoute::Workspace:
        return Operation {u"Workspace-Metadaten"_s, system,
                          jsonAnswer(u"OK"_s,
                                     {{u"folderURL"_s, nullable(u"string"_s)},
                                      {u"selectedFile"_s, nullable(u"string"_s)},
                                      {u"isModified"_s, boolean},
                                      {u"textLength"_s, integer},
                                      {u"wordCount"_s, integer},
                                      {u"charCount"_s, integer},
                                      {u"readingTime"_s, string},
                                      {u"outlineCount"_s, integer},
                                      {u"windowTitle"_s, string}})};
    case ApiRoute::GetContent:
        return Operation {u"Dokumentinhalt abrufen"_s, dokument,
                          textAnswer(u"Vollständiger Text"_s)};
    case ApiRoute::SetContent:
        return Operation {
            u"Dokumentinhalt ersetzen"_s, dokument, jsonAnswer(u"OK"_s, okLength),
            requestBody({{u"content"_s, property(u"string"_s, u"Neuer Dokumentinhalt"_s)}},
                        {u"content"_s})};
    case ApiRoute::Insert:
        return Operation {
            u"Text an Position einfügen"_s, dokument, jsonAnswer(u"OK"_s, okLength),
            requestBody({{u"text"_s, property(u"string"_s, u"Einzufügender Text"_s)},
                         {u"line"_s, property(u"integer"_s, u"Zeilennummer (0-basiert)"_s, 0)},
                         {u"column"_s, property(u"integer"_s, u"Spaltennummer (0-basiert)"_s, 0)}},
                        {u"text"_s})};
    case ApiRoute::Replace:
        return Operation {
            u"Suchen und Ersetzen"_s, dokument,
            jsonAnswer(u"OK"_s,
                       {{u"ok"_s, boolean}, {u"replacements"_s, integer}, {u"length"_s, integer}}),
            requestBody({{u"pattern"_s, property(u"string"_s, u"Suchbegriff oder Regex-Pattern"_s)},
                         {u"replacement"_s, property(u"string"_s, u"Ersetzungstext"_s)},
                         {u"regex"_s,
                          property(u"boolean"_s, u"Pattern als Regex interpretieren"_s, false)}},
                        {u"pattern"_s, u"replacement"_s})};
    case ApiRoute::Open:
        return Operation {
            u"Datei öffnen"_s, dokument,
            jsonAnswer(u"OK"_s,
                       {{u"ok"_s, boolean},
                        {u"path"_s, nullable(u"string"_s)},
                        {u"length"_s, integer},
                        {u"error"_s, failure}}),
            requestBody({{u"path"_s, property(u"string"_s, u"Absoluter Dateipfad"_s)}},
                        {u"path"_s})};
    case ApiRoute::Create:
        return Operation {
            u"Neues Dokument erstellen"_s, dokument,
            jsonAnswer(u"OK"_s,
                       {{u"ok"_s, boolean}, {u"length"_s, integer}, {u"error"_s, failure}}),
            requestBody({{u"path"_s, property(u"string"_s, u"Optionaler Speicherpfad"_s)},
                         {u"content"_s, property(u"string"_s, u"Initialer Inhalt"_s, u""_s)}})};
    case ApiRoute::Save:
        return Operation {
            u"Dokument speichern"_s, dokument,
            jsonAnswer(
                u"OK"_s,
                {{u"ok"_s, boolean}, {u"path"_s, nullable(u"string"_s)}, {u"error"_s, failure}})};
    case ApiRoute::Outline:
        return Operation {u"Heading-Struktur"_s,
                          dokument,
                          jsonAnswer(u"Outline"_s,
                                     {{u"outline"_s,
                                       arrayOf(object({
                                           {u"level"_s, integer},
                                           {u"title"_s, string},
                                           {u"line"_s, integer},
                                       }))}}),
                          {},
                          {},
                          u"Gibt die Gliederung des Dokuments als Liste von Headings zurück."_s};
    case ApiRoute::Search:
        return Operation {
            u"Text suchen"_s,
            dokument,
            jsonAnswer(
                u"Treffer (max. 100)"_s,
                {{u"results"_s, arrayOf(object({{u"line"_s, integer}, {u"match"_s, string}}))},
                 {u"count"_s, integer}}),
            {},
            QJsonArray {queryParameter(u"query"_s, u"Suchbegriff"_s, string, true),
                        queryParameter(u"regex"_s, u"Als Regex suchen"_s,
                                       property(u"boolean"_s, {}, false), false)}};
    case ApiRoute::FolderFiles:
        return Operation {
            u"Dateien im Workspace auflisten"_s,
            workspace,
            jsonAnswer(u"Dateiliste"_s,
                       {{u"files"_s, arrayOf(object({{u"path"_s, string}, {u"name"_s, string}}))},
                        {u"count"_s, integer}}),
            {},
            QJsonArray {queryParameter(u"glob"_s, u"Dateifilter (z.B. *.md)"_s,
                                       property(u"string"_s, {}, u"*"_s), false)}};
    case ApiRoute::FolderOpen:
        return Operation {
            u"Ordner als Workspace öffnen"_s, workspace,
            jsonAnswer(u"OK"_s, {{u"ok"_s, boolean}, {u"fileCount"_s, integer}}),
            requestBody({{u"path"_s, property(u"string"_s, u"Absoluter Ordnerpfad"_s)}},
                        {u"path"_s})};
    case ApiRoute::GetSelection:
        return Operation {u"Aktuelle Selektion"_s, editor,
                          bareAnswer(u"Selektionsdaten (noch nicht implementiert)"_s)};
    case ApiRoute::SetSelection:
        return Operation {u"Selektion setzen"_s, editor,
                          bareAnswer(u"OK (noch nicht implementiert)"_s),
                          requestBody({{u"start"_s, integer}, {u"end"_s, integer}})};
    case ApiRoute::Theme:
        return Operation {
            u"Editor-Theme wechseln"_s, control,
            jsonAnswer(u"OK"_s, {{u"ok"_s, boolean}, {u"theme"_s, string}}),
            requestBody({{u"id"_s, property(u"string"_s, u"Theme-ID"_s)}}, {u"id"_s})};
    case ApiRoute::ViewMode:
        return Operation {
            u"Focus/Wide Mode umschalten"_s, control,
            jsonAnswer(u"OK"_s,
                       {{u"ok"_s, boolean}, {u"focusMode"_s, boolean}, {u"wideMode"_s, boolean}}),
            requestBody({{u"focus"_s, boolean}, {u"wide"_s, boolean}})};
    case ApiRoute::FrontMatter:
        return Operation {
            u"YAML-Frontmatter extrahieren"_s, dokument,
            jsonAnswer(u"Frontmatter"_s,
                       {{u"frontmatter"_s, nullable(u"string"_s)}, {u"raw"_s, boolean}})};
    case ApiRoute::AIProvider:
        return Operation {
            u"KI-Provider konfigurieren"_s, control,
            jsonAnswer(u"OK"_s,
                       {{u"ok"_s, boolean},
                        {u"provider"_s, string},
                        {u"isConfigured"_s, boolean},
                        {u"model"_s, string}}),
            requestBody(
                {{u"provider"_s, property(u"string"_s, u"Velto KI, Claude, OpenAI, Ollama"_s)},
                 {u"apiKey"_s, string},
                 {u"model"_s, string}})};
    case ApiRoute::AppSettings:
        return Operation {
            u"Settings-Dialog öffnen"_s, control,
            jsonAnswer(
                u"OK"_s,
                {{u"ok"_s, boolean},
                 {u"windows"_s, arrayOf(object({{u"title"_s, string}, {u"frame"_s, string}}))}})};
    case ApiRoute::Screenshot:
        return Operation {u"Screenshots aller sichtbaren Fenster"_s, debug,
                          jsonAnswer(u"Gespeicherte Screenshots"_s,
                                     {{u"screenshots"_s, arrayOf(string)}, {u"count"_s, integer}})};
    case ApiRoute::ScreenshotWindows:
        return Operation {u"Sichtbare Fenster auflisten"_s, debug,
                          jsonAnswer(u"Fensterliste"_s,
                                     {{u"windows"_s,
                                       arrayOf(object({{u"index"_s, integer},
                                                       {u"title"_s, string},
                                                       {u"frame"_s, string},
                                                       {u"isKey"_s, boolean},
                                                       {u"isMain"_s, boolean}}))},
                                      {u"count"_s, integer}})};
    case ApiRoute::PreviewCheck:
        return Operation {
            u"Preview-Abhängigkeiten prüfen"_s,
            debug,
            jsonAnswer(u"Verfügbarkeitsstatus"_s,
                       {{u"hasKatex"_s, boolean},
                        {u"hasHljs"_s, boolean},
                        {u"hasMermaid"_s, boolean},
                        {u"visibleTextLength"_s, integer}}),
            {},
            {},
            u"Prüft ob KaTeX, highlight.js und Mermaid in der Preview geladen sind."_s};
    case ApiRoute::PreviewDom:
        return Operation {
            u"Preview-HTML abrufen"_s,
            debug,
            textAnswer(u"HTML-Inhalt"_s),
            {},
            {},
            u"Gibt den gerenderten HTML-Inhalt der Preview zurück (max. 5000 Zeichen)."_s};
    case ApiRoute::PreviewEval:
        return Operation {
            u"JavaScript in Preview ausführen"_s,
            debug,
            textAnswer(u"Ergebnis"_s),
            {},
            QJsonArray {queryParameter(u"js"_s, u"JavaScript-Code (URL-encoded)"_s, string, true)}};
    default:
        return std::nullopt;
    }
}

// Every documented row of the route table, under its path and lower-case method.
QJsonObject paths()
{
    QJsonObject p;
    for (const ApiRouteRow &row : apiroutes::rows()) {
        if (!row.documented)
            continue;
        const std::optional<Operation> op = operation(row.route);
        Q_ASSERT(op);
        QJsonObject item = p.value(row.path).toObject();
        item.insert(QString(row.method).toLower(), op->toJson());
        p.insert(row.path, item);
    }
    return p;
}

// The bundle and style sheet are large (about 1.5 MB); read and escape them once.
struct InlineAssets
{
    QByteArray css;
    QByteArray script;
};

const InlineAssets &inlineAssets()
{
    static const InlineAssets assets {
        escapeForInlineElement(Resources::readWebFile(u"swagger-ui.css"_s).value_or(QByteArray())),
        escapeForInlineElement(
            Resources::readWebFile(u"swagger-ui-bundle.js"_s).value_or(QByteArray())),
    };
    return assets;
}

} // namespace

QJsonObject document(quint16 port)
{
    return QJsonObject {
        {u"openapi"_s, u"3.1.0"_s},
        {u"info"_s,
         QJsonObject {{u"title"_s, u"Velto API"_s},
                      {u"version"_s, u"0.1.0"_s},
                      {u"description"_s, u"REST API für den Velto Markdown-Editor"_s}}},
        {u"servers"_s,
         QJsonArray {QJsonObject {{u"url"_s, u"http://localhost:"_s + QString::number(port)},
                                  {u"description"_s, u"Lokal"_s}}}},
        {u"components"_s,
         QJsonObject {
             {u"securitySchemes"_s,
              QJsonObject {
                  {u"bearer"_s,
                   QJsonObject {
                       {u"type"_s, u"http"_s},
                       {u"scheme"_s, u"bearer"_s},
                       {u"description"_s,
                        u"Optional. Nur wenn in den Settings ein Token gesetzt ist."_s}}}}}}},
        {u"security"_s, QJsonArray {QJsonObject {}, QJsonObject {{u"bearer"_s, QJsonArray {}}}}},
        {u"paths"_s, paths()},
    };
}

QByteArray escapeForInlineElement(QByteArray text)
{
    static const QRegularExpression closing(u"</(script|style)"_s,
                                            QRegularExpression::CaseInsensitiveOption);
    if (!text.contains("</"))
        return text;
    QString s = QString::fromUtf8(text);
    s.replace(closing, u"<\\/\\1"_s);
    return s.toUtf8();
}

QByteArray docsPage(quint16 port)
{
    const InlineAssets &assets = inlineAssets();
    QByteArray page;
    page.reserve(assets.css.size() + assets.script.size() + 1024);
    page += "<!DOCTYPE html>\n<html lang=\"de\">\n<head>\n<meta charset=\"UTF-8\">\n"
            "<title>Velto API</title>\n<style>\n";
    page += assets.css;
    page += "\n</style>\n<style>body{margin:0;background:#fafafa} .topbar{display:none}</style>\n"
            "</head>\n<body>\n<div id=\"swagger-ui\"></div>\n<script>\n";
    page += assets.script;
    // The page's own origin is the server "Try it out" calls, whether it was opened at
    // localhost, 127.0.0.1 or [::1]: calls across origins would need a pre-check first. The
    // port is only a fallback for a page opened from a file.
    page += "\n</script>\n<script>\nvar origin = location.protocol === \"http:\" ? "
            "location.origin : \"http://localhost:";
    page += QByteArray::number(port);
    page
        += "\";\nfetch(origin + \"/api/openapi.json\").then(function (r) { return r.json(); })"
           ".then(function (spec) {\n  spec.servers = [{url: origin, description: \"Lokal\"}];\n"
           "  window.ui = SwaggerUIBundle({spec: spec, dom_id: \"#swagger-ui\", deepLinking: true, "
           "presets: [SwaggerUIBundle.presets.apis, SwaggerUIBundle.SwaggerUIStandalonePreset], "
           "layout: \"BaseLayout\"});\n});\n</script>\n</body>\n</html>\n";
    return page;
}

} // namespace openapi

#include "Velto/api/DocumentEndpoints.h"

#include "Velto/api/DocumentText.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "core/markdown/OutlineParser.h"
#include "platform/Paths.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QSaveFile>

namespace {

using namespace Qt::Literals::StringLiterals;

const QString notSavedFirst
    = u"the open document has unsaved changes that could not be saved first; nothing was "
      u"replaced"_s;
const QString untitledNotSaved
    = u"the document has no file yet and was not saved; a save panel asks the user for a name"_s;

QJsonValue pathOrNull(const std::optional<QUrl> &url)
{
    return url ? QJsonValue(pathOf(*url)) : QJsonValue(QJsonValue::Null);
}

// A path from the request: relative paths resolve against the process's working directory.
QUrl fileURL(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
}

QJsonArray outlineItems(const QString &text)
{
    QJsonArray items;
    for (const OutlineItem &item : OutlineParser::parse(text))
        items.append(QJsonObject {
            {u"level"_s, item.level}, {u"title"_s, item.title}, {u"line"_s, item.line}});
    return items;
}

void collectFiles(const QList<FileNode> &nodes, const QString &glob, const QString &suffix,
                  QJsonArray &files)
{
    for (const FileNode &node : nodes) {
        if (node.isDirectory) {
            if (node.children)
                collectFiles(*node.children, glob, suffix, files);
            continue;
        }
        if (glob == u"*"_s || node.name.endsWith(suffix))
            files.append(QJsonObject {{u"path"_s, pathOf(node.url)}, {u"name"_s, node.name}});
    }
}

bool writeAtomically(const QString &path, const QString &content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content.toUtf8());
    return file.commit();
}

} // namespace

DocumentEndpoints::DocumentEndpoints(AppSettings &settings)
    : m_settings(settings)
{
}

qsizetype DocumentEndpoints::outlineCount(const WorkspaceState &workspace)
{
    if (m_outlineWorkspace != &workspace || m_outlineRevision != workspace.textRevision()) {
        m_outlineWorkspace = &workspace;
        m_outlineRevision = workspace.textRevision();
        m_outlineCount = OutlineParser::parse(workspace.text()).size();
    }
    return m_outlineCount;
}

ApiAnswer DocumentEndpoints::status(const WorkspaceState *workspace)
{
    QJsonObject answer {{u"running"_s, true},
                        {u"focusMode"_s, m_settings.isFocusMode()},
                        {u"wideMode"_s, m_settings.isWideMode()},
                        {u"theme"_s, m_settings.themeID()}};
    if (workspace) {
        answer.insert(u"editorTextLength"_s, workspace->charCount());
        answer.insert(u"selectedFile"_s, pathOrNull(workspace->selectedFileURL()));
        answer.insert(u"isModified"_s, workspace->isModified());
        answer.insert(u"wordCount"_s, workspace->wordCount());
        answer.insert(u"folderURL"_s, pathOrNull(workspace->folderURL()));
        answer.insert(u"fileTreeCount"_s, workspace->fileTree().size());
    } else {
        answer.insert(u"editorTextLength"_s, 0);
        answer.insert(u"selectedFile"_s, QJsonValue::Null);
        answer.insert(u"isModified"_s, false);
        answer.insert(u"wordCount"_s, 0);
        answer.insert(u"folderURL"_s, QJsonValue::Null);
        answer.insert(u"fileTreeCount"_s, 0);
    }
    return ApiAnswer::json(answer);
}

ApiAnswer DocumentEndpoints::workspaceInfo(const WorkspaceState *workspace)
{
    if (!workspace)
        return ApiAnswer::json({{u"folderURL"_s, QJsonValue::Null},
                                {u"selectedFile"_s, QJsonValue::Null},
                                {u"isModified"_s, false},
                                {u"textLength"_s, 0},
                                {u"wordCount"_s, 0},
                                {u"charCount"_s, 0},
                                {u"readingTime"_s, u""_s},
                                {u"outlineCount"_s, 0},
                                {u"windowTitle"_s, u""_s}});
    return ApiAnswer::json({{u"folderURL"_s, pathOrNull(workspace->folderURL())},
                            {u"selectedFile"_s, pathOrNull(workspace->selectedFileURL())},
                            {u"isModified"_s, workspace->isModified()},
                            {u"textLength"_s, workspace->charCount()},
                            {u"wordCount"_s, workspace->wordCount()},
                            {u"charCount"_s, workspace->charCount()},
                            {u"readingTime"_s, workspace->readingTime()},
                            {u"outlineCount"_s, outlineCount(*workspace)},
                            {u"windowTitle"_s, workspace->windowTitle()}});
}

ApiAnswer DocumentEndpoints::content(const WorkspaceState *workspace)
{
    return ApiAnswer::text(workspace ? workspace->text() : QString());
}

ApiAnswer DocumentEndpoints::setContent(WorkspaceState *workspace, const ApiRequest &request)
{
    const auto content = apihttp::textField(request.body, u"content"_s);
    if (!workspace || !content)
        return ApiAnswer::literal(400, R"({"error":"missing content"})");
    workspace->setText(*content);
    return ApiAnswer::json({{u"ok"_s, true}, {u"length"_s, workspace->charCount()}});
}

ApiAnswer DocumentEndpoints::insert(WorkspaceState *workspace, const ApiRequest &request)
{
    const auto text = apihttp::textField(request.body, u"text"_s);
    if (!workspace || !text)
        return ApiAnswer::literal(400, R"({"error":"missing text"})");
    const int line = apihttp::integerField(request.body, u"line"_s).value_or(0);
    const int column = apihttp::integerField(request.body, u"column"_s).value_or(0);
    QString updated = workspace->text();
    updated.insert(documenttext::insertionOffset(updated, line, column), *text);
    workspace->setText(updated);
    return ApiAnswer::json({{u"ok"_s, true}, {u"length"_s, workspace->charCount()}});
}

ApiAnswer DocumentEndpoints::replace(WorkspaceState *workspace, const ApiRequest &request)
{
    const auto pattern = apihttp::textField(request.body, u"pattern"_s);
    const auto replacement = apihttp::textField(request.body, u"replacement"_s);
    if (!workspace || !pattern || !replacement)
        return ApiAnswer::literal(400, R"({"error":"missing pattern/replacement"})");
    const QString before = workspace->text();
    const bool regex = apihttp::flagField(request.body, u"regex"_s).value_or(false);
    const QString after = regex
        ? documenttext::replaceRegex(before, *pattern, *replacement).value_or(before)
        : documenttext::replacePlain(before, *pattern, *replacement);
    workspace->setText(after);
    const QString &now = workspace->text();
    return ApiAnswer::json({{u"ok"_s, true},
                            {u"replacements"_s, now != before ? 1 : 0},
                            {u"length"_s, workspace->charCount()}});
}

ApiAnswer DocumentEndpoints::save(WorkspaceState *workspace)
{
    if (!workspace)
        return ApiAnswer::literal(400, R"({"error":"no workspace"})");
    if (!workspace->selectedFileURL()) {
        // The save panel asks the user for a name; nothing is written before the answer.
        workspace->save();
        return ApiAnswer::json(
            {{u"ok"_s, false}, {u"path"_s, QJsonValue::Null}, {u"error"_s, untitledNotSaved}});
    }
    const bool ok = workspace->save();
    QJsonObject answer {{u"ok"_s, ok}, {u"path"_s, pathOrNull(workspace->selectedFileURL())}};
    if (!ok)
        answer.insert(u"error"_s, u"could not write the file"_s);
    return ApiAnswer::json(answer);
}

ApiAnswer DocumentEndpoints::outline(const WorkspaceState *workspace)
{
    return ApiAnswer::json(
        {{u"outline"_s, workspace ? outlineItems(workspace->text()) : QJsonArray()}});
}

ApiAnswer DocumentEndpoints::search(const WorkspaceState *workspace, const ApiRequest &request)
{
    const QString query = apihttp::parseQuery(request.path, u"query"_s).value_or(QString());
    if (!workspace || query.isEmpty())
        return ApiAnswer::json({{u"results"_s, QJsonArray()}});
    const bool regex = apihttp::parseQuery(request.path, u"regex"_s) == u"true"_s;
    const QJsonArray results = documenttext::search(workspace->text(), query, regex);
    return ApiAnswer::json({{u"results"_s, results}, {u"count"_s, results.size()}});
}

ApiAnswer DocumentEndpoints::folderFiles(const WorkspaceState *workspace, const ApiRequest &request)
{
    if (!workspace)
        return ApiAnswer::json({{u"files"_s, QJsonArray()}});
    const QString glob = apihttp::parseQuery(request.path, u"glob"_s).value_or(u"*"_s);
    QString suffix = glob;
    suffix.remove(u'*');
    QJsonArray files;
    collectFiles(workspace->fileTree(), glob, suffix, files);
    return ApiAnswer::json({{u"files"_s, files}, {u"count"_s, files.size()}});
}

ApiAnswer DocumentEndpoints::folderOpen(WorkspaceState *workspace, const ApiRequest &request)
{
    const auto path = apihttp::textField(request.body, u"path"_s);
    if (!workspace || !path)
        return ApiAnswer::literal(400, R"({"error":"missing path"})");
    // Counted before the rescan, which finishes later in the background.
    const qsizetype fileCount = workspace->fileTree().size();
    // An empty path closes the folder (made absolute it would name the working directory).
    workspace->setFolderURL(path->isEmpty() ? std::nullopt : std::optional(fileURL(*path)));
    workspace->reloadFileTree();
    return ApiAnswer::json({{u"ok"_s, true}, {u"fileCount"_s, fileCount}});
}

ApiAnswer DocumentEndpoints::frontMatter(const WorkspaceState *workspace)
{
    const auto block = workspace ? documenttext::frontMatter(workspace->text()) : std::nullopt;
    if (!block)
        return ApiAnswer::json({{u"frontmatter"_s, QJsonValue::Null}});
    return ApiAnswer::json({{u"frontmatter"_s, *block}, {u"raw"_s, true}});
}

QCoro::Task<ApiAnswer> DocumentEndpoints::open(QPointer<WorkspaceState> workspace,
                                               ApiRequest request)
{
    const auto path = apihttp::textField(request.body, u"path"_s);
    if (!workspace || !path)
        co_return ApiAnswer::literal(400, R"({"error":"missing path"})");
    const QFileInfo file(*path);
    // A relative path would resolve against wherever the program was started, which the caller
    // cannot know.
    if (!file.isAbsolute()) {
        ApiAnswer refused
            = ApiAnswer::json({{u"error"_s, u"the path must be absolute: "_s + *path}});
        refused.status = 400;
        co_return refused;
    }
    const bool wasModified = workspace->isModified();
    // Only regular files: a FIFO would block the main thread, a device could read forever.
    bool ok = false;
    QString error;
    if (!file.isFile()) {
        error = u"not a readable file: "_s + *path;
    } else {
        // Opened under its canonical path ("..", "." and links resolved), which the answer and
        // the window then show.
        ok = co_await workspace->openFile(QUrl::fromLocalFile(file.canonicalFilePath()));
        if (!workspace)
            co_return ApiAnswer::literal(400, R"({"error":"missing path"})");
        if (!ok)
            error = wasModified && workspace->isModified() ? notSavedFirst
                                                           : u"could not read "_s + *path;
    }
    QJsonObject answer {{u"ok"_s, ok},
                        {u"path"_s, pathOrNull(workspace->selectedFileURL())},
                        {u"length"_s, workspace->charCount()}};
    if (!ok)
        answer.insert(u"error"_s, error);
    co_return ApiAnswer::json(answer);
}

QCoro::Task<ApiAnswer> DocumentEndpoints::create(QPointer<WorkspaceState> workspace,
                                                 ApiRequest request)
{
    if (!workspace)
        co_return ApiAnswer::literal(400, R"({"error":"no workspace"})");
    const QString content = apihttp::textField(request.body, u"content"_s).value_or(QString());
    const auto path = apihttp::textField(request.body, u"path"_s);
    bool ok = co_await workspace->closeFile();
    if (!workspace)
        co_return ApiAnswer::literal(400, R"({"error":"no workspace"})");
    QString error;
    if (!ok) {
        error = notSavedFirst;
    } else {
        workspace->setText(content);
        if (path) {
            const QUrl url = fileURL(*path);
            // Written atomically; an existing file is replaced on purpose.
            ok = writeAtomically(url.toLocalFile(), content);
            workspace->setSelectedFileURL(url);
            ok = workspace->save() && ok;
            if (!ok)
                error = u"could not write "_s + *path;
        }
    }
    QJsonObject answer {{u"ok"_s, ok}, {u"length"_s, workspace->charCount()}};
    if (!ok)
        answer.insert(u"error"_s, error);
    co_return ApiAnswer::json(answer);
}

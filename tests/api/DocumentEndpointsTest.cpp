#include "ApiTestSupport.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

#include <sys/stat.h>

using namespace apitest;

namespace {

class DocumentRoutes : public ApiFixture
{
protected:
    QJsonObject insert(const QString &text, const QJsonObject &extra = {})
    {
        QJsonObject body = extra;
        body.insert("text", text);
        return post("/api/document/insert", body).json();
    }
    QJsonObject replace(const QString &pattern, const QString &replacement, bool regex = false)
    {
        return post("/api/document/replace",
                    {{"pattern", pattern}, {"replacement", replacement}, {"regex", regex}})
            .json();
    }
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString p = path(name);
        EXPECT_TRUE(testsupport::writeFile(p, bytes));
        return p;
    }
};

class NoWorkspace : public ApiFixture
{
protected:
    void SetUp() override
    {
        ApiFixture::SetUp();
        workspace.reset(); // the server's weak reference now reads as none
    }
};

} // namespace

TEST_F(DocumentRoutes, statusAndWorkspaceDescribeTheOpenDocument)
{
    settings->setThemeID("night");
    settings->setIsWideMode(true);
    const QString file = writeFile("notes/a.md", "# Title\n\nsome words here");
    ASSERT_EQ(post("/api/document/open", {{"path", file}}).json().value("ok"), true);
    workspace->setText(workspace->text() + QString::fromUtf8(" 🇩🇪"));

    const QJsonObject status = get("/api/status").json();
    EXPECT_EQ(status.value("running"), true);
    EXPECT_EQ(status.value("editorTextLength").toInt(), 26);
    EXPECT_EQ(status.value("wordCount").toInt(), 6);
    EXPECT_EQ(status.value("isModified"), true);
    EXPECT_EQ(status.value("selectedFile").toString(), file);
    EXPECT_TRUE(status.value("folderURL").isNull());
    EXPECT_EQ(status.value("fileTreeCount").toInt(), 0);
    EXPECT_EQ(status.value("theme").toString(), "night");
    EXPECT_EQ(status.value("wideMode"), true);
    EXPECT_EQ(status.value("focusMode"), false);

    const QJsonObject info = get("/api/workspace").json();
    EXPECT_EQ(info.value("textLength").toInt(), 26);
    EXPECT_EQ(info.value("charCount").toInt(), 26);
    EXPECT_EQ(info.value("wordCount").toInt(), 6);
    EXPECT_EQ(info.value("readingTime").toString(), "1 min");
    EXPECT_EQ(info.value("outlineCount").toInt(), 1);
    EXPECT_EQ(info.value("windowTitle").toString(), workspace->windowTitle());
    EXPECT_EQ(info.value("selectedFile").toString(), file);

    workspace->setText(QString());
    EXPECT_EQ(get("/api/workspace").json().value("readingTime").toString(), "1 min");
    EXPECT_EQ(get("/api/status").json().value("editorTextLength").toInt(), 0);
}

TEST_F(NoWorkspace, everyRouteAnswersItsNoWorkspaceForm)
{
    const QJsonObject status = get("/api/status").json();
    EXPECT_EQ(status.value("running"), true);
    EXPECT_EQ(status.value("editorTextLength").toInt(-1), 0);
    EXPECT_TRUE(status.value("selectedFile").isNull());
    EXPECT_TRUE(status.value("folderURL").isNull());
    EXPECT_EQ(status.value("isModified"), false);
    EXPECT_EQ(status.value("fileTreeCount").toInt(-1), 0);

    const QJsonObject info = get("/api/workspace").json();
    EXPECT_EQ(info.value("readingTime").toString("x"), "");
    EXPECT_EQ(info.value("windowTitle").toString("x"), "");
    EXPECT_EQ(info.value("outlineCount").toInt(-1), 0);

    const Reply content = get("/api/document/content");
    EXPECT_EQ(content.status, 200);
    EXPECT_TRUE(content.body.isEmpty());

    const QList<QPair<QByteArray, QByteArray>> errors {
        {"/api/document/content", R"({"error":"missing content"})"},
        {"/api/document/insert", R"({"error":"missing text"})"},
        {"/api/document/replace", R"({"error":"missing pattern/replacement"})"},
        {"/api/document/open", R"({"error":"missing path"})"},
        {"/api/folder/open", R"({"error":"missing path"})"},
        {"/api/document/create", R"({"error":"no workspace"})"},
        {"/api/document/save", R"({"error":"no workspace"})"}};
    const QJsonObject full {
        {"content", "c"}, {"text", "t"}, {"pattern", "p"}, {"replacement", "r"}, {"path", "/tmp"}};
    for (const auto &[target, body] : errors) {
        const Reply r = post(target, full);
        EXPECT_EQ(r.status, 400) << target.constData();
        EXPECT_EQ(r.body, body);
        EXPECT_EQ(r.header("Content-Type"), "application/json");
    }
    EXPECT_EQ(get("/api/document/outline").json().value("outline").toArray().size(), 0);
    EXPECT_EQ(get("/api/document/search?query=a").json(),
              (QJsonObject {{"results", QJsonArray()}}));
    EXPECT_EQ(get("/api/folder/files").json(), (QJsonObject {{"files", QJsonArray()}}));
    EXPECT_EQ(get("/api/frontmatter").json(), (QJsonObject {{"frontmatter", QJsonValue::Null}}));
}

TEST_F(DocumentRoutes, missingOrMistypedFieldsAreRejected)
{
    workspace->setText("unchanged");
    EXPECT_EQ(post("/api/document/content", {{"content", 5}}).status, 400);
    EXPECT_EQ(post("/api/document/insert", {{"line", 0}}).status, 400);
    EXPECT_EQ(post("/api/document/replace", {{"pattern", "a"}}).status, 400);
    EXPECT_EQ(post("/api/document/replace", {{"pattern", "a"}, {"replacement", true}}).status, 400);
    EXPECT_EQ(post("/api/document/open", {{"path", QJsonArray {"x"}}}).status, 400);
    EXPECT_EQ(post("/api/folder/open", {}).status, 400);
    EXPECT_EQ(request("POST", "/api/document/content", "[\"content\"]").status, 400);
    EXPECT_EQ(workspace->text(), "unchanged");
}

TEST_F(DocumentRoutes, setContentReplacesTheTextAndLeavesItModified)
{
    QSignalSpy changed(workspace.get(), &WorkspaceState::textChanged);
    const QJsonObject r
        = post("/api/document/content", {{"content", "e\u0301 👨‍👩‍👧\r\n"}}).json();
    EXPECT_EQ(r.value("ok"), true);
    EXPECT_EQ(r.value("length").toInt(), 4);
    EXPECT_EQ(workspace->text(), "e\u0301 👨‍👩‍👧\r\n");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(workspace->isModified());
    EXPECT_EQ(get("/api/document/content").body,
              QString("e\u0301 👨‍👩‍👧\r\n").toUtf8());
}

TEST_F(DocumentRoutes, insertCountsLinesAndCharacters)
{
    struct Case
    {
        QString text;
        QJsonObject position;
        QString expected;
    };
    const QList<Case> cases {
        {"ab\ncd", {{"line", 1}, {"column", 1}}, "ab\ncXd"},
        {"ab\ncd", {{"line", 1}, {"column", 9}}, "ab\ncdX"},
        {"ab\ncd", {{"line", 5}, {"column", 0}}, "ab\ncdX"},
        {"ab\ncd", {}, "Xab\ncd"},
        {"ab\n", {{"line", 1}}, "ab\nX"},
        {"ab\n", {{"line", 2}}, "ab\nX"},
        {"e\u0301x", {{"column", 1}}, "e\u0301Xx"},
        {"🇩🇪x", {{"column", 1}}, "🇩🇪Xx"},
        {"😀🇩🇪x", {{"column", 2}}, "😀🇩🇪Xx"},
        {"क\r\nनमस्ते", {{"line", 1}, {"column", 3}}, "क\r\nनमस्तेX"},
        {"ab\ncd", {{"line", -3}, {"column", -1}}, "Xab\ncd"},
        {"ab\ncd", {{"line", 1e12}, {"column", 1e12}}, "ab\ncdX"},
        {"ab\ncd", {{"line", "1"}, {"column", 1.5}}, "Xab\ncd"},
        // CRLF: "end of line" is before the "\r\n"; later lines are not shifted.
        {"ab\r\ncd", {{"line", 1}, {"column", 0}}, "ab\r\nXcd"},
        {"ab\r\ncd", {{"line", 0}, {"column", 9}}, "abX\r\ncd"},
        {"ab\r\ncd\r\nef", {{"line", 2}, {"column", 1}}, "ab\r\ncd\r\neXf"},
    };
    for (const Case &c : cases) {
        workspace->setText(c.text);
        const QJsonObject r = insert("X", c.position);
        EXPECT_EQ(workspace->text(), c.expected)
            << qPrintable(c.text) << ' ' << QJsonDocument(c.position).toJson().constData();
        EXPECT_EQ(r.value("ok"), true);
    }
    workspace->setText("ab");
    EXPECT_EQ(insert("😀").value("length").toInt(), 3);
    workspace->setText("");
    EXPECT_EQ(insert("नमस्ते 🙏").value("length").toInt(), 5);
}

TEST_F(DocumentRoutes, replacePlainAndRegex)
{
    workspace->setText("aaa");
    QJsonObject r = replace("a", "b");
    EXPECT_EQ(r.value("replacements").toInt(), 1);
    EXPECT_EQ(r.value("length").toInt(), 3);
    EXPECT_EQ(workspace->text(), "bbb");
    EXPECT_EQ(replace("z", "y").value("replacements").toInt(), 1 - 1);
    EXPECT_EQ(replace("", "x").value("replacements").toInt(), 0);
    EXPECT_EQ(workspace->text(), "bbb");

    workspace->setText("cat");
    EXPECT_EQ(replace("(a)", "[$1]", true).value("replacements").toInt(), 1);
    EXPECT_EQ(workspace->text(), "c[a]t");
    EXPECT_EQ(replace("(a", "x", true).value("replacements").toInt(), 0);
    EXPECT_EQ(workspace->text(), "c[a]t");

    workspace->setText("abc");
    replace("x*", "-", true);
    EXPECT_EQ(workspace->text(), "-a-b-c-");
    workspace->setText("price 5");
    replace("(?<digit>\\d)", "\\$$1${digit}$10", true);
    EXPECT_EQ(workspace->text(), "price $5${digit}50");
    // A template naming a group that does not exist changes nothing.
    EXPECT_EQ(replace("(\\d)", "$2", true).value("replacements").toInt(), 0);
    EXPECT_EQ(workspace->text(), "price $5${digit}50");
    // Only "$" + digits names a group: any other "$" is a dollar sign.
    for (const auto &[replacement, expected] :
         {std::pair {"$x", "a$xc"}, {"US$ 5", "aUS$ 5c"}, {"cost: $", "acost: $c"}}) {
        workspace->setText("abc");
        EXPECT_EQ(replace("(b)", replacement, true).value("replacements").toInt(), 1);
        EXPECT_EQ(workspace->text(), expected);
    }
    workspace->setText("ab");
    replace("(a)|(z)", "[$2]", true);
    EXPECT_EQ(workspace->text(), "[]b");
    workspace->setText("grüße");
    replace("\\w+", "w", true); // Unicode-aware \w
    EXPECT_EQ(workspace->text(), "w");
    // ICU's syntax: set operations and character names.
    workspace->setText("hello");
    replace("[[a-z]--[aeiou]]", "_", true);
    EXPECT_EQ(workspace->text(), "_e__o");
    replace("\\N{LATIN SMALL LETTER E}", "E", true);
    EXPECT_EQ(workspace->text(), "_E__o");
}

TEST_F(DocumentRoutes, regexReplaceNeverSplitsACrLfLineEnd)
{
    const QString crlf = "a.\r\nb\r\n";
    for (const char *pattern : {"$", "(?m)$", "\\B", "x*", "(?m)^"}) {
        workspace->setText(crlf);
        replace(pattern, "|", true);
        EXPECT_FALSE(workspace->text().contains("\r|"))
            << pattern << ' ' << qPrintable(workspace->text());
    }
    workspace->setText(crlf);
    replace("(?m)$", "!", true);
    EXPECT_EQ(workspace->text(), "a.!\r\nb!\r\n!");
    workspace->setText(crlf);
    replace(".", "x", true); // CR and LF are no characters of a line
    EXPECT_EQ(workspace->text(), "xx\r\nx\r\n");
}

TEST_F(DocumentRoutes, unpairedSurrogateEscapesAreRefused)
{
    workspace->setText("ab");
    workspace->setSavedText("ab");
    const QByteArray bodies[] = {R"({"content":"a\ud800b"})", R"({"content":"a\udc00"})",
                                 R"({"content":"ok","x":["\ud83d"]})"};
    for (const QByteArray &body : bodies) {
        const Reply r = request("POST", "/api/document/content", body);
        EXPECT_EQ(r.status, 400) << body.constData();
        EXPECT_TRUE(r.json().value("error").toString().contains("unpaired surrogate"));
    }
    EXPECT_EQ(workspace->text(), "ab");
    // A proper pair in escapes is fine.
    EXPECT_EQ(request("POST", "/api/document/content", R"({"content":"\ud83d\ude00"})").status,
              200);
    EXPECT_EQ(workspace->text(), "😀");
}

TEST_F(DocumentRoutes, searchPlainRegexAndLimits)
{
    workspace->setText("a\nba\n");
    QJsonObject r = get("/api/document/search?query=a").json();
    EXPECT_EQ(r.value("count").toInt(), 2);
    EXPECT_EQ(r.value("results").toArray(),
              (QJsonArray {QJsonObject {{"line", 0}, {"match", "a"}},
                           QJsonObject {{"line", 1}, {"match", "a"}}}));
    r = get("/api/document/search?query=b.&regex=true").json();
    EXPECT_EQ(r.value("results").toArray(),
              (QJsonArray {QJsonObject {{"column", 0}, {"line", 1}, {"match", "ba"}}}));
    // Invalid pattern: searched plainly.
    workspace->setText("x(a y");
    EXPECT_EQ(get("/api/document/search?query=(a&regex=true").json().value("count").toInt(), 1);
    EXPECT_EQ(get("/api/document/search?query=(a&regex=yes").json().value("count").toInt(), 1);

    workspace->setText(QString("aa ").repeated(150));
    r = get("/api/document/search?query=aa").json();
    EXPECT_EQ(r.value("count").toInt(), 100);
    EXPECT_EQ(r.value("results").toArray().size(), 100);
    EXPECT_EQ(get("/api/document/search?query=a&regex=true").json().value("count").toInt(), 100);

    workspace->setText("x+y a b");
    EXPECT_EQ(get("/api/document/search?query=x+y").json().value("count").toInt(), 1);
    EXPECT_EQ(get("/api/document/search?query=a%20b").json().value("count").toInt(), 1);
    EXPECT_EQ(get("/api/document/search?query=%zz").json(),
              (QJsonObject {{"results", QJsonArray()}}));
    EXPECT_EQ(get("/api/document/search").json(), (QJsonObject {{"results", QJsonArray()}}));
}

TEST_F(DocumentRoutes, folderFilesFollowTheTreeAndTheGlob)
{
    const QString root = path("tree");
    const auto node = [&](const QString &rel, bool folder = false,
                          std::optional<QList<FileNode>> children = std::nullopt) {
        return FileNode(QUrl::fromLocalFile(root + '/' + rel), QFileInfo(rel).fileName(), folder,
                        folder ? std::optional(children.value_or(QList<FileNode>()))
                               : std::nullopt);
    };
    workspace->setFileTree({node("a.md"), node("b.txt"),
                            node("d", true, QList<FileNode> {node("d/c.md"), node("d/my-notes")}),
                            node("empty", true)});
    QJsonObject r = get("/api/folder/files?glob=*.md").json();
    EXPECT_EQ(r.value("files").toArray(),
              (QJsonArray {QJsonObject {{"name", "a.md"}, {"path", root + "/a.md"}},
                           QJsonObject {{"name", "c.md"}, {"path", root + "/d/c.md"}}}));
    EXPECT_EQ(r.value("count").toInt(), 2);
    EXPECT_EQ(get("/api/folder/files?glob=*notes*").json().value("count").toInt(), 1);
    EXPECT_EQ(get("/api/folder/files").json().value("count").toInt(), 4);
    EXPECT_EQ(get("/api/folder/files?glob=").json().value("count").toInt(), 4);
    EXPECT_EQ(get("/api/folder/files?glob=*.MD").json().value("count").toInt(), 0);
}

TEST_F(DocumentRoutes, folderOpenAnswersThePreviousCountAndRescans)
{
    writeFile("folder/one.md", "1");
    writeFile("folder/two.md", "2");
    workspace->setFileTree({FileNode(QUrl::fromLocalFile("/old/x.md"), "x.md", false)});
    QSignalSpy reloaded(workspace.get(), &WorkspaceState::fileTreeReloaded);
    const QJsonObject r = post("/api/folder/open", {{"path", path("folder")}}).json();
    EXPECT_EQ(r.value("ok"), true);
    EXPECT_EQ(r.value("fileCount").toInt(), 1);
    EXPECT_EQ(workspace->folderURL(), QUrl::fromLocalFile(path("folder")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return reloaded.count() > 0; }));
    EXPECT_EQ(get("/api/status").json().value("fileTreeCount").toInt(), 2);

    // An empty path closes the folder instead of naming the working directory.
    EXPECT_EQ(post("/api/folder/open", {{"path", ""}}).json().value("fileCount").toInt(), 2);
    const QJsonObject status = get("/api/status").json();
    EXPECT_TRUE(status.value("folderURL").isNull());
    EXPECT_EQ(status.value("fileTreeCount").toInt(), 0);
}

TEST_F(DocumentRoutes, frontMatterIsTheRawBlock)
{
    const QList<QPair<QString, QJsonValue>> cases {
        {"---\ntitle: x\n---\n# H", "title: x"},  {"# H", QJsonValue::Null},
        {"---\n---\n", QJsonValue::Null},         {"---\r\ntitle: x\r\n---\r\n", QJsonValue::Null},
        {"---\ntitle: x\n---", QJsonValue::Null}, {"---\na\n\nb\n---\nbody\n---\n", "a\n\nb"},
    };
    for (const auto &[text, expected] : cases) {
        workspace->setText(text);
        const QJsonObject r = get("/api/frontmatter").json();
        EXPECT_EQ(r.value("frontmatter"), expected) << qPrintable(text);
        EXPECT_EQ(r.contains("raw"), expected.isString());
        if (expected.isString()) {
            EXPECT_EQ(r.value("raw"), true);
        }
    }
}

TEST_F(DocumentRoutes, outlineListsHeadingsWithOneBasedLines)
{
    workspace->setText("# One\n\ntext\n\n## Two *em*\n");
    EXPECT_EQ(get("/api/document/outline").json().value("outline").toArray(),
              (QJsonArray {QJsonObject {{"level", 1}, {"line", 1}, {"title", "One"}},
                           QJsonObject {{"level", 2}, {"line", 5}, {"title", "Two em"}}}));
}

TEST_F(DocumentRoutes, openReadsRegularFilesOnlyAndReportsFailure)
{
    const QString file = writeFile("doc.md", "hello\r\nworld");
    QJsonObject r = post("/api/document/open", {{"path", file}}).json();
    EXPECT_EQ(r.value("ok"), true);
    EXPECT_EQ(r.value("path").toString(), file);
    EXPECT_EQ(r.value("length").toInt(), 11);
    EXPECT_EQ(workspace->text(), "hello\r\nworld");

    const QString fifo = path("pipe.md");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &bad : {fifo, path("missing.md"), path(""), QStringLiteral("/dev/zero")}) {
        r = post("/api/document/open", {{"path", bad}}).json();
        EXPECT_EQ(r.value("ok"), false) << qPrintable(bad);
        EXPECT_EQ(r.value("path").toString(), file);
        EXPECT_EQ(workspace->text(), "hello\r\nworld");
    }
    writeFile("bad.md", "\xFF\xFE not utf-8");
    EXPECT_EQ(post("/api/document/open", {{"path", path("bad.md")}}).json().value("ok"), false);

    // A relative path is refused, whatever the working directory holds; an absolute one is
    // reported in its canonical form.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const Reply relative = post("/api/document/open", {{"path", "doc.md"}});
    QDir::setCurrent(previous);
    EXPECT_EQ(relative.status, 400);
    EXPECT_EQ(relative.json().value("error"), "the path must be absolute: doc.md");
    writeFile("other.md", "other");
    ASSERT_TRUE(QDir().mkpath(path("sub")));
    r = post("/api/document/open", {{"path", path("sub/../other.md")}}).json();
    EXPECT_EQ(r.value("path").toString(), QFileInfo(path("other.md")).canonicalFilePath());
}

TEST_F(DocumentRoutes, openSavesAModifiedDocumentFirstAndStopsWhenThatFails)
{
    const QString first = writeFile("first.md", "one");
    const QString second = writeFile("second.md", "two");
    post("/api/document/open", {{"path", first}});
    workspace->setText("one edited");
    EXPECT_EQ(post("/api/document/open", {{"path", second}}).json().value("ok"), true);
    EXPECT_EQ(testsupport::readFile(first), "one edited");

    // The open file's place is taken by a folder, so saving fails: the edits stay, nothing
    // else opens.
    workspace->setText("two edited");
    ASSERT_TRUE(QFile::remove(second));
    ASSERT_TRUE(QDir().mkpath(second));
    const QJsonObject r = post("/api/document/open", {{"path", first}}).json();
    EXPECT_EQ(r.value("ok"), false);
    EXPECT_TRUE(r.value("error").toString().contains("could not be saved first"));
    EXPECT_EQ(workspace->text(), "two edited");
    EXPECT_EQ(r.value("path").toString(), second);
}

TEST_F(DocumentRoutes, saveWritesTheFileOrStartsThePanelForUntitled)
{
    workspace->setText("untitled text");
    QJsonObject r = post("/api/document/save", {}).json();
    // Nothing is written yet: no success is claimed.
    EXPECT_EQ(r.value("ok"), false);
    EXPECT_TRUE(r.value("error").toString().contains("no file"));
    EXPECT_TRUE(r.value("path").isNull());
    EXPECT_EQ(panels.proposedNames.size(), 1); // the panel is up, the answer did not wait for it

    const QString file = writeFile("saved.md", "old");
    panels.answerSave(QUrl::fromLocalFile(file));
    ASSERT_TRUE(testsupport::waitUntil([&] { return workspace->selectedFileURL().has_value(); }));
    workspace->setText("new text");
    r = post("/api/document/save", {}).json();
    EXPECT_EQ(r.value("ok"), true);
    EXPECT_EQ(r.value("path").toString(), file);
    EXPECT_EQ(testsupport::readFile(file), "new text");
    EXPECT_FALSE(workspace->isModified());

    // The file's folder disappears: the write fails and says so.
    workspace->setSelectedFileURL(QUrl::fromLocalFile(path("gone/saved.md")));
    r = post("/api/document/save", {}).json();
    EXPECT_EQ(r.value("ok"), false);
    EXPECT_TRUE(r.value("error").isString());
}

TEST_F(DocumentRoutes, createStartsANewDocumentAndWritesItWhenGivenAPath)
{
    QJsonObject r = post("/api/document/create", {{"content", "fresh 😀"}}).json();
    EXPECT_EQ(r.value("ok"), true);
    EXPECT_EQ(r.value("length").toInt(), 7);
    EXPECT_EQ(workspace->text(), "fresh 😀");
    EXPECT_FALSE(workspace->selectedFileURL().has_value());

    // The unsaved untitled document must be saved first: the panel is asked and cancelled.
    std::future<RawResult> waiting
        = startRaw(port, {"POST /api/document/create HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}"});
    ASSERT_TRUE(testsupport::waitUntil([&] { return panels.savePending(); }));
    panels.answerSave(std::nullopt);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return waiting.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    r = parseReply(waiting.get()).json();
    EXPECT_EQ(r.value("ok"), false);
    EXPECT_TRUE(r.value("error").toString().contains("could not be saved first"));
    EXPECT_EQ(workspace->text(), "fresh 😀");

    workspace->setText(QString());
    workspace->setSavedText(QString());
    const QString target = writeFile("existing.md", "to be replaced");
    r = post("/api/document/create", {{"path", target}, {"content", "created"}}).json();
    EXPECT_EQ(r.value("ok"), true);
    EXPECT_EQ(testsupport::readFile(target), "created");
    EXPECT_EQ(workspace->selectedFileURL(), QUrl::fromLocalFile(target));
    EXPECT_FALSE(workspace->isModified());

    r = post("/api/document/create", {{"path", path("no/such/dir/x.md")}, {"content", "c"}}).json();
    EXPECT_EQ(r.value("ok"), false);
    EXPECT_TRUE(r.value("error").toString().startsWith("could not write"));
}

#include "core/markdown/MarkdownPageBuilder.h"
#include "core/markdown/MarkdownParser.h"

#include "platform/Resources.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString tail = QStringLiteral("\n</body>\n</html>");

// A folder of stand-in web assets with small, recognisable contents.
class FakeAssets
{
public:
    FakeAssets()
    {
        put("katex.min.css",
            "@font-face{src:url(fonts/KaTeX_Main-Regular.woff2)}"
            "@font-face{src:url(fonts/KaTeX_AMS-Regular.woff2)}"
            "@font-face{src:url(fonts/KaTeX_Main-BoldItalic.woff2)}"
            ".x{src:url(fonts/KaTeX_Main-Regular.woff2)}");
        put("KaTeX_Main-Regular.woff2", QByteArray("\x00\x01\xfe\xff", 4));
        put("KaTeX_Main-BoldItalic.woff2", "not one of the inlined fonts");
        put("github.min.css", ".hljs{color:#000}");
        put("github-dark.min.css", ".hljs{color:#fff}");
        put("katex.min.js", "var katex=1;");
        put("auto-render.min.js", "var renderMathInElement=2;");
        put("highlight.min.js", "var hljs=3;");
        put("mermaid.min.js", "var mermaid=4;");
    }

    QString path() const { return m_dir.path(); }
    void put(const char *name, const QByteArray &bytes)
    {
        ASSERT_TRUE(testsupport::writeFile(m_dir.filePath(QString::fromLatin1(name)), bytes));
    }
    void remove(const QString &name) { QFile::remove(m_dir.filePath(name)); }

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(MarkdownPages, fixedPiecesHaveTheirExactLength)
{
    EXPECT_EQ(MarkdownPageBuilder::pageHead(),
              QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<style>"));
    EXPECT_EQ(MarkdownPageBuilder::pageHead().size(), 60);
    const QString base = MarkdownPageBuilder::baseStyleBlock();
    EXPECT_EQ(base.size(), 2257);
    EXPECT_TRUE(base.startsWith(QStringLiteral(
        "</style>\n<style>\n:root { color-scheme: light dark; }\nbody {\n    font-family: ")));
    EXPECT_TRUE(base.endsWith(
        QStringLiteral("li > input[type=\"checkbox\"]:first-child + p { display: inline; }\n"
                       "</style>\n</head>\n<body>\n")));
    const QString post = MarkdownPageBuilder::exportPostRender();
    EXPECT_EQ(post.size(), 649);
    EXPECT_TRUE(post.startsWith(QStringLiteral("<script>\n")));
    EXPECT_TRUE(post.endsWith(QStringLiteral("</script>")));
    EXPECT_EQ(MarkdownPageBuilder::katexFontNames().size(), 15);
    EXPECT_EQ(
        MarkdownPageBuilder::previewScriptNames(),
        (QStringList {"katex.min.js", "auto-render.min.js", "highlight.min.js", "mermaid.min.js"}));
}

TEST(MarkdownPages, withoutAnyResourceThePagesAreTheBarePieces)
{
    QTemporaryDir empty;
    const MarkdownPageBuilder builder(empty.path());
    EXPECT_EQ(builder.themeCSS(), QString());
    EXPECT_TRUE(builder.previewScripts().isEmpty());

    const QString page = builder.renderPage(QString());
    EXPECT_EQ(page, MarkdownPageBuilder::pageHead() + MarkdownPageBuilder::baseStyleBlock() + tail);
    EXPECT_EQ(page.size(), 60 + 2257 + 16);
    EXPECT_FALSE(page.contains(QStringLiteral("<script")));

    const QString exported = builder.renderExportPage(QStringLiteral("# T"));
    EXPECT_EQ(exported,
              MarkdownPageBuilder::pageHead() + MarkdownPageBuilder::baseStyleBlock()
                  + QStringLiteral("<h1 data-line=\"1\">T</h1>\n\n")
                  + MarkdownPageBuilder::exportPostRender() + tail);
}

TEST(MarkdownPages, previewPageWrapsTheBodyBetweenThemeAndTail)
{
    FakeAssets assets;
    const MarkdownPageBuilder builder(assets.path());
    const QString page = builder.renderPage(QStringLiteral("Hello *you*"));
    EXPECT_EQ(page,
              MarkdownPageBuilder::pageHead() + builder.themeCSS()
                  + MarkdownPageBuilder::baseStyleBlock()
                  + QStringLiteral("<p data-line=\"1\">Hello <em>you</em></p>") + tail);
    EXPECT_FALSE(page.contains(QStringLiteral("<script")));
}

TEST(MarkdownPages, themeSheetInlinesTheListedFontsThatExist)
{
    FakeAssets assets;
    const MarkdownPageBuilder builder(assets.path());
    const QString data = QStringLiteral("data:font/woff2;base64,AAH+/w==");
    EXPECT_EQ(builder.themeCSS(),
              QStringLiteral("@font-face{src:url(") + data
                  + QStringLiteral(")}")
                  // missing font file: reference kept
                  + QStringLiteral("@font-face{src:url(fonts/KaTeX_AMS-Regular.woff2)}")
                  // not among the inlined fonts, even though the file exists
                  + QStringLiteral("@font-face{src:url(fonts/KaTeX_Main-BoldItalic.woff2)}")
                  + QStringLiteral(".x{src:url(") + data + QStringLiteral(")}")
                  + QStringLiteral("\n@media(prefers-color-scheme:light){.hljs{color:#000}}"
                                   "\n@media(prefers-color-scheme:dark){.hljs{color:#fff}}"));
}

TEST(MarkdownPages, eachMissingStyleSheetOnlyDropsItsOwnPart)
{
    {
        FakeAssets assets;
        assets.remove("katex.min.css");
        const MarkdownPageBuilder builder(assets.path());
        EXPECT_EQ(builder.themeCSS(),
                  QStringLiteral("@media(prefers-color-scheme:light){.hljs{color:#000}}\n"
                                 "@media(prefers-color-scheme:dark){.hljs{color:#fff}}"));
    }
    {
        FakeAssets assets;
        assets.remove("github.min.css");
        assets.remove("katex.min.css");
        const MarkdownPageBuilder builder(assets.path());
        EXPECT_EQ(builder.themeCSS(),
                  QStringLiteral("@media(prefers-color-scheme:dark){.hljs{color:#fff}}"));
    }
    {
        FakeAssets assets;
        assets.remove("github-dark.min.css");
        assets.put("katex.min.css", "no fonts here");
        const MarkdownPageBuilder builder(assets.path());
        EXPECT_EQ(
            builder.themeCSS(),
            QStringLiteral("no fonts here\n@media(prefers-color-scheme:light){.hljs{color:#000}}"));
    }
}

TEST(MarkdownPages, exportPageCarriesTheScriptsThatExistInOrder)
{
    FakeAssets assets;
    assets.remove("auto-render.min.js");
    assets.put("highlight.min.js", QByteArray("var bad='\xff\xfe';")); // not UTF-8: skipped
    const MarkdownPageBuilder builder(assets.path());
    EXPECT_EQ(builder.previewScripts(), (QStringList {"var katex=1;", "var mermaid=4;"}));

    const QString exported = builder.renderExportPage(QStringLiteral("x"));
    EXPECT_EQ(
        exported,
        MarkdownPageBuilder::pageHead() + builder.themeCSS() + MarkdownPageBuilder::baseStyleBlock()
            + QStringLiteral("<p data-line=\"1\">x</p>\n"
                             "<script>var katex=1;</script>\n<script>var mermaid=4;</script>\n")
            + MarkdownPageBuilder::exportPostRender() + tail);
}

TEST(MarkdownPages, everyClosingBodyTagGetsTheScripts)
{
    QTemporaryDir empty;
    const MarkdownPageBuilder builder(empty.path());
    const QString insertion = QStringLiteral("\n") + MarkdownPageBuilder::exportPostRender()
        + QStringLiteral("\n</body>");

    const QString raw = builder.renderExportPage(QStringLiteral("<div>\n</body>\n</div>"));
    EXPECT_EQ(raw.count(MarkdownPageBuilder::exportPostRender()), 2);
    EXPECT_TRUE(raw.contains(QStringLiteral("<div>\n") + insertion + QStringLiteral("\n</div>")));

    // In code the tag is escaped text, not a tag.
    const QString code = builder.renderExportPage(QStringLiteral("```\n</body>\n```"));
    EXPECT_EQ(code.count(MarkdownPageBuilder::exportPostRender()), 1);
    EXPECT_TRUE(code.contains(QStringLiteral("&lt;/body&gt;")));
}

TEST(MarkdownPages, firstUseFixesThemeAndScripts)
{
    FakeAssets assets;
    assets.remove("github.min.css");
    assets.remove("mermaid.min.js");
    const MarkdownPageBuilder builder(assets.path());
    const QString theme = builder.themeCSS();
    const QStringList scripts = builder.previewScripts();
    assets.put("github.min.css", ".late{}");
    assets.put("mermaid.min.js", "late");
    EXPECT_EQ(builder.themeCSS(), theme);
    EXPECT_EQ(builder.previewScripts(), scripts);
    EXPECT_EQ(&builder.themeCSS(), &builder.themeCSS());
    const QString page1 = builder.renderPage(QStringLiteral("a"));
    const QString page2 = builder.renderExportPage(QStringLiteral("a"));
    EXPECT_TRUE(page1.contains(theme));
    EXPECT_TRUE(page2.contains(theme));
    EXPECT_FALSE(page2.contains(QStringLiteral("late")));
}

TEST(MarkdownPages, loadResourceReadsPlainNamesOnly)
{
    FakeAssets assets;
    assets.put("README", "no extension");
    const MarkdownPageBuilder builder(assets.path());
    EXPECT_EQ(builder.loadResource(QStringLiteral("katex.min.js")), QStringLiteral("var katex=1;"));
    EXPECT_EQ(builder.loadResource(QStringLiteral("README")), QStringLiteral("no extension"));
    EXPECT_EQ(builder.loadResource(QStringLiteral("README.")), QStringLiteral("no extension"));
    EXPECT_FALSE(builder.loadResource(QStringLiteral("missing.js")));
    EXPECT_FALSE(builder.loadResource(QString()));
    EXPECT_FALSE(builder.loadResource(QStringLiteral("../") + QDir(assets.path()).dirName()
                                      + QStringLiteral("/katex.min.js")));
    assets.put("latin1.css", "caf\xe9");
    EXPECT_FALSE(builder.loadResource(QStringLiteral("latin1.css")));
    EXPECT_EQ(builder.loadResourceData(QStringLiteral("latin1.css")), QByteArray("caf\xe9"));
}

// The build copies the npm-installed libraries next to the tests' resource folder; the
// application's builder reads them from there.
TEST(MarkdownPages, installedAssetsReachTheProductionPages)
{
    const MarkdownPageBuilder installed(Resources::webDir());
    const QStringList &scripts = installed.previewScripts();
    ASSERT_EQ(scripts.size(), 4) << "web assets missing: run scripts/setup.sh";
    EXPECT_TRUE(scripts[0].contains(QStringLiteral("katex")));
    EXPECT_TRUE(scripts[1].contains(QStringLiteral("renderMathInElement")));
    EXPECT_TRUE(scripts[2].contains(QStringLiteral("highlightAll")));
    EXPECT_TRUE(scripts[3].contains(QStringLiteral("mermaid")));

    const QString &theme = installed.themeCSS();
    EXPECT_EQ(theme.count(QStringLiteral("data:font/woff2;base64,")), 15);
    for (const QString &font : MarkdownPageBuilder::katexFontNames())
        EXPECT_FALSE(theme.contains(QStringLiteral("fonts/") + font + QStringLiteral(".woff2")))
            << font.toStdString();
    EXPECT_TRUE(theme.contains(QStringLiteral("@media(prefers-color-scheme:light){")));
    EXPECT_TRUE(theme.contains(QStringLiteral("@media(prefers-color-scheme:dark){")));
    EXPECT_TRUE(installed.loadResource(QStringLiteral("katex.min.css")).has_value());

    const QString page = installed.renderPage(QStringLiteral("# Hi"));
    EXPECT_TRUE(page.startsWith(MarkdownPageBuilder::pageHead() + theme));
    EXPECT_TRUE(page.endsWith(QStringLiteral("<h1 data-line=\"1\">Hi</h1>") + tail));
    const QString exported = installed.renderExportPage(QStringLiteral("# Hi"));
    EXPECT_EQ(exported.count(QStringLiteral("<script>")), 5);
    EXPECT_EQ(MarkdownParser::renderBody(QStringLiteral("# Hi")),
              QStringLiteral("<h1 data-line=\"1\">Hi</h1>"));
}

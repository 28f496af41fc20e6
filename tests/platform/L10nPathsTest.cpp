#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(L10n, missingKeyReadsAsItselfAndKnownKeyAsGerman)
{
    EXPECT_EQ(L10n::text("no.such.key"), QStringLiteral("no.such.key"));
    EXPECT_TRUE(L10n::has("menu.file"));
    EXPECT_NE(L10n::text("menu.file"), QStringLiteral("menu.file"));
}

TEST(L10n, printfStyleFormatting)
{
    EXPECT_EQ(L10n::formatString("Wörter: %lld", {qint64(12)}), QStringLiteral("Wörter: 12"));
    EXPECT_EQ(L10n::formatString("%@ und %@", {"a", "b"}), QStringLiteral("a und b"));
    EXPECT_EQ(L10n::formatString("%2$@ vor %1$@", {"a", "b"}), QStringLiteral("b vor a"));
    EXPECT_EQ(L10n::formatString("%d%% von %ld", {5, 10}), QStringLiteral("5% von 10"));
    EXPECT_EQ(L10n::formatString("fehlt: %@.", {}), QStringLiteral("fehlt: ."));
    EXPECT_EQ(L10n::formatString("50%", {}), QStringLiteral("50%"));
    EXPECT_EQ(L10n::format("no.such.key %@", {"x"}), QStringLiteral("no.such.key x"));
}

TEST(Text, canonicalEquivalence)
{
    EXPECT_TRUE(canonicallyEqual(QStringLiteral("é"), QStringLiteral("e\u0301")));
    EXPECT_TRUE(canonicallyEqual("abc", "abc"));
    EXPECT_FALSE(canonicallyEqual("abc", "abd"));
    EXPECT_FALSE(canonicallyEqual(QStringLiteral("é"), QStringLiteral("e")));
}

TEST(Paths, insideAndRelative)
{
    EXPECT_TRUE(isInside("/a/b/c.md", "/a/b"));
    EXPECT_FALSE(isInside("/a/bc/c.md", "/a/b"));
    EXPECT_FALSE(isInside("/a/b", "/a/b"));
    EXPECT_TRUE(isInside("/x", "/"));
    EXPECT_EQ(relativePathInside("/a/b/c/d.md", "/a/b"), QStringLiteral("c/d.md"));
    EXPECT_EQ(pathOf(QUrl::fromLocalFile("/a/b/")), QStringLiteral("/a/b"));
    EXPECT_EQ(pathOf(QUrl::fromLocalFile("/")), QStringLiteral("/"));
}

TEST(Paths, resolveInsideFolderRefusesEscapes)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    QDir(root).mkpath("sub");
    QTemporaryDir outside;
    QFile::link(outside.path(), root + "/out");
    QFile::link(root + "/sub", root + "/inlink");

    EXPECT_EQ(resolveInsideFolder(root, "sub/new.md"), root + "/sub/new.md");
    EXPECT_EQ(resolveInsideFolder(root, "a/b/c.md"), root + "/a/b/c.md");
    EXPECT_EQ(resolveInsideFolder(root, "inlink/x.md"), root + "/inlink/x.md");
    for (const char *bad : {"", "/etc/passwd", "../x", "a/../../x", "a//b", ".hidden",
                            "a/.git/config", "./a", "out/x.md", "out", "a\\b"})
        EXPECT_FALSE(resolveInsideFolder(root, QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(resolveInsideFolder(root, QString("a") + QChar(0) + "b"));
}

TEST(Log, captureSeesLinesAndRestoresSink)
{
    {
        testsupport::LogCapture capture;
        qCInfo(logApi) << "[API] hello";
        EXPECT_TRUE(capture.contains("[API] hello"));
        EXPECT_EQ(capture.lines().size(), 1);
    }
    testsupport::LogCapture outer;
    {
        testsupport::LogCapture inner;
        qCInfo(logApi) << "inner";
    }
    qCInfo(logApi) << "outer";
    EXPECT_EQ(outer.lines(), QStringList {"outer"});
}

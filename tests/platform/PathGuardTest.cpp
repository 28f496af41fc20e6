#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The guard every relative path from the backend (structure entries, file requests) goes through
// before it touches the disk.
TEST(SyncPathGuard, hostileRemotePathsStayOutside)
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("b"));
    const QString sibling = tmp.filePath(QStringLiteral("bc"));
    QDir().mkpath(folder + QStringLiteral("/docs"));
    QDir().mkpath(sibling);
    ASSERT_TRUE(testsupport::writeFile(sibling + QStringLiteral("/secret.md"), "s"));
    ASSERT_TRUE(QFile::link(sibling, folder + QStringLiteral("/toSibling")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc"), folder + QStringLiteral("/etc")));
    ASSERT_TRUE(
        QFile::link(tmp.filePath(QStringLiteral("nowhere")), folder + QStringLiteral("/dangling")));

    EXPECT_EQ(resolveInsideFolder(folder, QStringLiteral("docs/note.md")),
              folder + QStringLiteral("/docs/note.md"));
    EXPECT_EQ(resolveInsideFolder(folder, QStringLiteral("new/deeper/note.md")),
              folder + QStringLiteral("/new/deeper/note.md"));
    for (const QString &bad :
         {QString(), QStringLiteral("/etc/passwd"), QStringLiteral("../bc/secret.md"),
          QStringLiteral("docs/../../bc/secret.md"), QStringLiteral("docs//x"),
          QStringLiteral("./docs"), QStringLiteral(".git/hooks/pre-commit"),
          QStringLiteral("docs/.ssh/id_rsa"), QStringLiteral("toSibling/secret.md"),
          QStringLiteral("toSibling/new.md"), QStringLiteral("etc/passwd"),
          QStringLiteral("dangling"), QStringLiteral("dangling/x.md"), QStringLiteral("docs/"),
          QStringLiteral("docs\\..\\..\\x"), QStringLiteral("a") + QChar(0) + QStringLiteral("b")})
        EXPECT_FALSE(resolveInsideFolder(folder, bad).has_value()) << bad.toStdString();
}

#include "core/model/SessionRestore.h"
#include "platform/Defaults.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SessionRestoreTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    QTemporaryDir tmp;
    Defaults defaults {tmp.filePath(QStringLiteral("defaults.json"))};
    SessionRestore session {defaults};
};

} // namespace

TEST_F(SessionRestoreTest, emptyStoreReadsTheDefaults)
{
    EXPECT_FALSE(session.lastFolderPath());
    EXPECT_FALSE(session.lastFilePath());
    EXPECT_FALSE(session.showChat());
    EXPECT_FALSE(session.showOutline());
    EXPECT_TRUE(session.scrollSync());
    EXPECT_EQ(session.cursorPosition(QStringLiteral("/any/file.md")), 0);
}

TEST_F(SessionRestoreTest, valuesPersistAndNoneRemovesThePaths)
{
    session.setScrollSync(false);
    session.setShowChat(true);
    session.setLastFolderPath(QStringLiteral("/home/u/notes"));
    session.setLastFilePath(QStringLiteral("/home/u/notes/a.md"));

    Defaults reopened(defaults.filePath());
    SessionRestore again(reopened);
    EXPECT_FALSE(again.scrollSync());
    EXPECT_TRUE(again.showChat());
    EXPECT_EQ(again.lastFolderPath(), QStringLiteral("/home/u/notes"));
    EXPECT_EQ(again.lastFilePath(), QStringLiteral("/home/u/notes/a.md"));

    session.setLastFilePath(std::nullopt);
    EXPECT_FALSE(defaults.contains(QStringLiteral("lastFilePath")));
    EXPECT_FALSE(session.lastFilePath());
}

TEST_F(SessionRestoreTest, caretMapKeepsEveryPathExactly)
{
    session.setCursorPosition(10, QStringLiteral("/a.md"));
    session.setCursorPosition(20, QStringLiteral("/b.md"));
    session.setCursorPosition(5, QStringLiteral("/A.md"));
    EXPECT_EQ(session.cursorPosition(QStringLiteral("/a.md")), 10);
    EXPECT_EQ(session.cursorPosition(QStringLiteral("/b.md")), 20);
    EXPECT_EQ(session.cursorPosition(QStringLiteral("/A.md")), 5);
    session.setCursorPosition(30, QStringLiteral("/a.md"));
    EXPECT_EQ(session.cursorPosition(QStringLiteral("/a.md")), 30);
    EXPECT_EQ(session.cursorPosition(QStringLiteral("/b.md")), 20);
    // Another reader of the same store sees the writes at once.
    EXPECT_EQ(SessionRestore(defaults).cursorPosition(QStringLiteral("/b.md")), 20);
}

TEST_F(SessionRestoreTest, oneValueThatIsNotAnExactIntegerSetsTheWholeMapAside)
{
    for (const QJsonValue &bad : {QJsonValue(10.5), QJsonValue("12"), QJsonValue(true)}) {
        defaults.set(QStringLiteral("cursorPositions"),
                     QJsonObject {{"/a.md", 10}, {"/b.md", bad}});
        EXPECT_EQ(session.cursorPosition(QStringLiteral("/a.md")), 0);
        session.setCursorPosition(7, QStringLiteral("/c.md"));
        EXPECT_EQ(defaults.dictionary(QStringLiteral("cursorPositions")),
                  (QJsonObject {{"/c.md", 7}}));
    }
    defaults.set(QStringLiteral("cursorPositions"), QStringLiteral("not a map"));
    EXPECT_EQ(session.cursorPosition(QStringLiteral("/c.md")), 0);
    defaults.set(QStringLiteral("cursorPositions"), QJsonObject {{"/a.md", 3.0}});
    EXPECT_EQ(session.cursorPosition(QStringLiteral("/a.md")), 3) << "3.0 is an exact integer";
}

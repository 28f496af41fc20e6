#include "platform/Defaults.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

namespace {

struct DefaultsTest : ::testing::Test
{
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("cfg/defaults.json")); }
};

TEST_F(DefaultsTest, valuesKeepTheirTypesAcrossAReload)
{
    {
        Defaults d(path());
        d.set("s", QStringLiteral("text"));
        d.set("n", 42);
        d.set("big", qint64(9007199254740993LL));
        d.set("f", 14.5);
        d.set("b", true);
        d.set("numStr", QStringLiteral("12abc"));
        d.setData("blob", QByteArray("\x00\x01\xff", 3));
        d.setDate("when", QDateTime::fromSecsSinceEpoch(978307200 + 10, Qt::UTC));
        d.set("map", QJsonObject {{"a", 1}});
    }
    Defaults d(path());
    EXPECT_EQ(d.string("s"), QStringLiteral("text"));
    EXPECT_EQ(d.integer("n"), 42);
    EXPECT_EQ(d.string("n"), QStringLiteral("42"));
    EXPECT_EQ(d.integer("big"), 9007199254740993LL);
    EXPECT_DOUBLE_EQ(d.doubleValue("f"), 14.5);
    EXPECT_TRUE(d.boolValue("b"));
    EXPECT_TRUE(d.object("b")->isBool());
    EXPECT_EQ(d.integer("numStr"), 12);
    EXPECT_EQ(d.data("blob"), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(d.date("when")->toSecsSinceEpoch(), 978307210);
    EXPECT_EQ(d.dictionary("map")->value("a").toInt(), 1);
    EXPECT_FALSE(d.dictionary("blob"));
    EXPECT_FALSE(d.data("map"));
}

TEST_F(DefaultsTest, conversionsOfMissingAndMistypedValues)
{
    Defaults d(path());
    EXPECT_FALSE(d.contains("x"));
    EXPECT_EQ(d.integer("x"), 0);
    EXPECT_FALSE(d.boolValue("x"));
    EXPECT_FALSE(d.string("x"));
    d.set("zero", 0);
    EXPECT_FALSE(d.boolValue("zero"));
    for (auto [text, expected] : {std::pair {"YES", true},
                                  {"no", false},
                                  {"0", false},
                                  {"007", true},
                                  {"  true", true},
                                  {"-1", true},
                                  {"", false}}) {
        d.set("str", QString::fromLatin1(text));
        EXPECT_EQ(d.boolValue("str"), expected) << text;
    }
    // Numbers inside strings are read as decimal text, whatever the C library's locale says.
    const QByteArray oldLocale = setlocale(LC_NUMERIC, nullptr);
    for (const char *commaLocale : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
        if (setlocale(LC_NUMERIC, commaLocale))
            break;
    }
    d.set("str", QStringLiteral("16.5pt"));
    EXPECT_EQ(d.doubleValue("str"), 16.5);
    setlocale(LC_NUMERIC, oldLocale.constData());
    for (auto [text, expected] : {std::pair {" 1.5e3x", 1500.0},
                                  {"-2.5", -2.5},
                                  {"+.5", 0.5},
                                  {"7e", 7.0},
                                  {"0x10", 0.0},
                                  {"nan", 0.0},
                                  {"inf", 0.0},
                                  {"1e999", 0.0},
                                  {"-", 0.0}}) {
        d.set("str", QString::fromLatin1(text));
        EXPECT_EQ(d.doubleValue("str"), expected) << text;
    }
    d.set("str", QStringLiteral("-2.9"));
    EXPECT_EQ(d.integer("str"), -2);
    d.set("num", 0.1);
    EXPECT_EQ(d.string("num"), QStringLiteral("0.1")) << "the shortest text of a number";

    d.set("arr", QJsonArray {1, 2});
    EXPECT_FALSE(d.string("arr"));
    EXPECT_EQ(d.integer("arr"), 0);
    d.set("arr", QJsonValue::Null);
    EXPECT_FALSE(d.contains("arr"));
}

TEST_F(DefaultsTest, fileIsPrivateAndWrittenWhole)
{
    Defaults d(path());
    d.set("apiToken", QStringLiteral("secret"));
    EXPECT_TRUE(d.lastWriteSucceeded());
    const QFileInfo file(path());
    const auto groupOrOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup
        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther
        | QFileDevice::ExeOther;
    EXPECT_TRUE(file.permissions() & QFileDevice::ReadOwner);
    EXPECT_TRUE(file.permissions() & QFileDevice::WriteOwner);
    EXPECT_FALSE(file.permissions() & groupOrOther);
    const QFileInfo folder(file.absolutePath());
    EXPECT_FALSE(folder.permissions() & groupOrOther);
    // No temporary files left beside the store.
    EXPECT_EQ(QDir(file.absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(DefaultsTest, corruptFileReadsAsEmptyAndIsReplacedOnWrite)
{
    QDir().mkpath(QFileInfo(path()).absolutePath());
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{not json");
    f.close();
    Defaults d(path());
    EXPECT_FALSE(d.contains("a"));
    d.set("a", 1);
    EXPECT_EQ(Defaults(path()).integer("a"), 1);
}

} // namespace

namespace {

TEST_F(DefaultsTest, batchWritesOnceWhenTheOutermostBatchEnds)
{
    Defaults d(path());
    {
        const Defaults::Batch outer(d);
        d.set("a", 1);
        {
            const Defaults::Batch inner(d);
            d.set("b", 2);
        }
        EXPECT_FALSE(QFile::exists(path())); // nothing written while the outer batch lives
        EXPECT_EQ(d.integer("b"), 2);
    }
    Defaults reread(path());
    EXPECT_EQ(reread.integer("a"), 1);
    EXPECT_EQ(reread.integer("b"), 2);
}

} // namespace

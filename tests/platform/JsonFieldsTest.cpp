#include "platform/JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

QJsonValue parsed(const char *json)
{
    return QJsonDocument::fromJson(QByteArray("[") + json + "]").array().at(0);
}

TEST(JsonFields, exactIntegersAreWholeNumbersInThe64BitRange)
{
    EXPECT_EQ(jsonfields::exactInteger(parsed("-9223372036854775808")),
              std::numeric_limits<qint64>::min());
    EXPECT_EQ(jsonfields::exactInteger(parsed("9007199254740993")), 9007199254740993);
    for (const char *refused : {"1.5", "9223372036854775808", "1e300", "\"1\"", "true", "null"})
        EXPECT_FALSE(jsonfields::exactInteger(parsed(refused))) << refused;
    EXPECT_EQ(jsonfields::wholeNumber(parsed("1e30")), 1e30);
    EXPECT_FALSE(jsonfields::wholeNumber(parsed("-0.5")));
}

TEST(JsonFields, absentNullAndWrongTypesAreToldApart)
{
    const QJsonObject o = QJsonDocument::fromJson(R"({"n": null, "s": "x", "i": 2.5})").object();
    const auto missing = jsonfields::string(o, QLatin1StringView("missing"));
    const auto null = jsonfields::integer(o, QLatin1StringView("n"));
    EXPECT_TRUE(missing.ok && !missing.value);
    EXPECT_TRUE(null.ok && !null.value);
    EXPECT_FALSE(jsonfields::integer(o, QLatin1StringView("i")).ok);
    EXPECT_FALSE(jsonfields::boolean(o, QLatin1StringView("s")).ok);
    EXPECT_EQ(jsonfields::string(o, QStringLiteral("s")).value, QStringLiteral("x"));
}

} // namespace

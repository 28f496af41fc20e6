#include "Velto/api/ApiHttp.h"
#include "Velto/api/ApiRoutes.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <climits>

using namespace apihttp;

TEST(ApiHttp, parsesRequestLineHeadersAndBody)
{
    const ApiRequest r = parseRequest("GET /api/status HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/api/status");
    EXPECT_EQ(r.headers.size(), 1);
    EXPECT_EQ(r.headers.value("host"), "x");
    EXPECT_TRUE(r.body.isEmpty());

    EXPECT_EQ(parseRequest("GET").path, "/");
    EXPECT_EQ(parseRequest("").method, "GET");
    EXPECT_EQ(parseRequest("\r\n\r\n").path, "/");
    const ApiRequest spaced = parseRequest("POST    /a?b=1   HTTP/1.1 extra\r\n\r\n");
    EXPECT_EQ(spaced.method, "POST");
    EXPECT_EQ(spaced.path, "/a?b=1");
    EXPECT_EQ(parseRequest("get /x").method, "get"); // case kept
}

TEST(ApiHttp, headerLinesAreTrimmedLowerCasedAndLaterOnesWin)
{
    const ApiRequest r = parseRequest("GET / HTTP/1.1\r\nX-Api-Token:  one \r\n"
                                      "X-API-TOKEN:\t two\t\r\nNoColon\r\nName:\r\n:a:b\r\n"
                                      "Empty: \r\n\r\n");
    EXPECT_EQ(r.headers.value("x-api-token"), "two");
    EXPECT_FALSE(r.headers.contains("nocolon"));
    EXPECT_FALSE(r.headers.contains("name"));
    EXPECT_EQ(r.headers.value("a"), "b");
    EXPECT_TRUE(r.headers.contains("empty"));
    EXPECT_EQ(r.headers.value("empty"), "");
}

TEST(ApiHttp, bodyIsEverythingAfterTheFirstBlankLineAndOnlyObjectsCount)
{
    // A blank CRLF line inside the JSON's white space must not cut the body.
    const ApiRequest spaced = parseRequest("POST / HTTP/1.1\r\n\r\n{\r\n\r\n\"a\": 1}");
    EXPECT_EQ(spaced.body.value("a").toInt(), 1);
    EXPECT_TRUE(parseRequest("POST / HTTP/1.1\r\n\r\n[1,2]").body.isEmpty());
    EXPECT_TRUE(parseRequest("POST / HTTP/1.1\r\n\r\nnot json").body.isEmpty());
    EXPECT_TRUE(parseRequest("POST / HTTP/1.1\r\n\r\n{\"a\":1} trailing").body.isEmpty());
    EXPECT_EQ(parseRequest("POST / HTTP/1.1\r\n\r\n{\"a\":1,\"a\":2}").body.value("a").toInt(), 2);
}

TEST(ApiHttp, splitFirstSkipsEmptyPieces)
{
    EXPECT_EQ(splitFirst(u":a:b", u':'), QStringList({"a", "b"}));
    EXPECT_EQ(splitFirst(u"a::b", u':'), QStringList({"a", ":b"}));
    EXPECT_EQ(splitFirst(u"Name:", u':'), QStringList({"Name"}));
    EXPECT_EQ(splitFirst(u"Name: ", u':'), QStringList({"Name", " "}));
    EXPECT_EQ(splitFirst(u"js=a=b", u'='), QStringList({"js", "a=b"}));
    EXPECT_EQ(splitFirst(u"js=", u'='), QStringList({"js"}));
    EXPECT_TRUE(splitFirst(u"===", u'=').isEmpty());
}

TEST(ApiHttp, queryParametersDecodeStrictly)
{
    EXPECT_EQ(parseQuery("/x?a=1&b=%20c", "b"), QString(" c"));
    EXPECT_EQ(parseQuery("/x?b=%zz", "b"), std::nullopt);
    EXPECT_EQ(parseQuery("/x?b=%FF", "b"), std::nullopt); // not UTF-8
    EXPECT_EQ(parseQuery("/x?b=%4", "b"), std::nullopt);
    EXPECT_EQ(parseQuery("/x?js=a=b", "js"), QString("a=b"));
    EXPECT_EQ(parseQuery("/x?a=1", "A"), std::nullopt);
    EXPECT_EQ(parseQuery("/x?a=", "a"), std::nullopt);
    EXPECT_EQ(parseQuery("/x?a=1&a=2", "a"), QString("1"));
    EXPECT_EQ(parseQuery("/x?q=a+b", "q"), QString("a+b"));
    EXPECT_EQ(parseQuery("/x?q=%C3%A4%F0%9F%98%80", "q"), QString::fromUtf8("ä😀"));
    // The last '?' starts the query: an unencoded '?' cuts the value.
    EXPECT_EQ(parseQuery("/x?q=a?b:c", "q"), std::nullopt);
    EXPECT_EQ(parseQuery("/x?q=a?q=b:c", "q"), QString("b:c"));
    EXPECT_EQ(parseQuery("q=1", "q"), QString("1")); // no '?': the whole target is the query
}

TEST(ApiHttp, utf8ValidationRejectsMalformedSequences)
{
    EXPECT_TRUE(isValidUtf8("plain ascii"));
    EXPECT_TRUE(isValidUtf8(QByteArray::fromHex("c3a4e282acf09f9880"))); // ä € 😀
    EXPECT_FALSE(isValidUtf8(QByteArray::fromHex("ff")));
    EXPECT_FALSE(isValidUtf8(QByteArray::fromHex("c0af"))); // overlong '/'
    EXPECT_FALSE(isValidUtf8(QByteArray::fromHex("eda080"))); // surrogate
    EXPECT_FALSE(isValidUtf8(QByteArray::fromHex("f4908080"))); // above U+10FFFF
    EXPECT_FALSE(isValidUtf8(QByteArray::fromHex("e282"))); // cut short
}

TEST(ApiHttp, responseFramingIsByteExact)
{
    EXPECT_EQ(responseBytes(400, jsonType, "{}"),
              QByteArray("HTTP/1.1 400 OK\r\nContent-Type: application/json\r\nContent-Length: 2"
                         "\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n{}"));
    const QByteArray euro = QString::fromUtf8("ä€").toUtf8();
    EXPECT_TRUE(responseBytes(200, textType, euro).contains("Content-Length: 5\r\n"));
}

TEST(ApiHttp, prettyJsonIndentsByTwoWithSortedKeys)
{
    const QByteArray text = prettyJson(
        {{"zeta", 1}, {"alpha", QJsonObject {{"b", true}, {"a", "x/y"}}}, {"list", QJsonArray {}}});
    EXPECT_EQ(text,
              QByteArray("{\n  \"alpha\": {\n    \"a\": \"x/y\",\n    \"b\": true\n  },\n"
                         "  \"list\": [\n  ],\n  \"zeta\": 1\n}\n"));
    EXPECT_EQ(QJsonDocument::fromJson(prettyJson({{"s", "line\nbreak    x"}}))["s"].toString(),
              "line\nbreak    x");
}

TEST(ApiHttp, bodyFieldsOfTheWrongTypeCountAsMissing)
{
    const QJsonObject body {{"t", "x"},  {"n", 1.0}, {"f", 1.5}, {"neg", -3}, {"huge", 1e300},
                            {"b", true}, {"s", "1"}, {"nan", 0}, {"big", 3e9}};
    EXPECT_EQ(textField(body, "t"), QString("x"));
    EXPECT_EQ(textField(body, "n"), std::nullopt);
    EXPECT_EQ(integerField(body, "n"), 1);
    EXPECT_EQ(integerField(body, "f"), std::nullopt);
    EXPECT_EQ(integerField(body, "neg"), 0);
    EXPECT_EQ(integerField(body, "huge"), INT_MAX);
    EXPECT_EQ(integerField(body, "big"), INT_MAX);
    EXPECT_EQ(integerField(body, "s"), std::nullopt);
    EXPECT_EQ(integerField(body, "b"), std::nullopt);
    EXPECT_EQ(flagField(body, "b"), true);
    EXPECT_EQ(flagField(body, "n"), std::nullopt);
}

TEST(ApiHttp, constantTimeComparisonMatchesPlainEquality)
{
    EXPECT_TRUE(constantTimeEquals("secret", "secret"));
    EXPECT_FALSE(constantTimeEquals("secret", "secreT"));
    EXPECT_FALSE(constantTimeEquals("secret", "secret "));
    EXPECT_TRUE(constantTimeEquals("", ""));
}

TEST(ApiRoutes, tableOrderMethodsAndPrefixes)
{
    using apiroutes::match;
    EXPECT_EQ(match("GET", "/api/status"), ApiRoute::Status);
    EXPECT_EQ(match("DELETE", "/api/status"), ApiRoute::EndpointList);
    EXPECT_EQ(match("get", "/api/status"), ApiRoute::EndpointList);
    EXPECT_EQ(match("GET", "/api/status?x=1"), ApiRoute::EndpointList);
    EXPECT_EQ(match("POST", "/api/document/search?query=a"), ApiRoute::Search);
    EXPECT_EQ(match("PUT", "/api/document/searchx"), ApiRoute::Search);
    EXPECT_EQ(match("POST", "/api/folder/files"), ApiRoute::FolderFiles);
    EXPECT_EQ(match("DELETE", "/api/preview/eval?js=1"), ApiRoute::PreviewEval);
    EXPECT_EQ(match("GET", "/api/document/content"), ApiRoute::GetContent);
    EXPECT_EQ(match("POST", "/api/document/content"), ApiRoute::SetContent);
    EXPECT_EQ(match("GET", "/api/sync/status"), ApiRoute::SyncStatus);
    EXPECT_EQ(match("GET", "/api/screenshot/windows"), ApiRoute::ScreenshotWindows);
    EXPECT_TRUE(apiroutes::isTokenExempt("/api/docs"));
    EXPECT_FALSE(apiroutes::isTokenExempt("/api/openapi.json?x=1"));
    EXPECT_EQ(apiroutes::endpointList().size(), 21);
}

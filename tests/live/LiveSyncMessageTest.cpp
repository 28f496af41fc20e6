#include "LiveTestSupport.h"

#include "core/live/LiveSyncMessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

QJsonObject encoded(const LiveSyncMessage &m)
{
    return QJsonDocument::fromJson(*m.encode()).object();
}

std::optional<LiveSyncMessage> decode(const char *json)
{
    return LiveSyncMessage::decode(QByteArray(json));
}

QStringList keysOf(const LiveSyncMessage &m)
{
    QStringList keys = encoded(m).keys();
    keys.sort();
    return keys;
}

} // namespace

TEST(LiveSyncMessage, pingAndPongCarryOnlyTheirType)
{
    EXPECT_EQ(*LiveSyncMessage::ping().encode(), QByteArray(R"({"type":"ping"})"));
    EXPECT_EQ(*LiveSyncMessage::pong().encode(), QByteArray(R"({"type":"pong"})"));
    EXPECT_EQ(&LiveSyncMessage::ping(), &LiveSyncMessage::ping());
}

TEST(LiveSyncMessage, constructorsSetExactlyTheirFields)
{
    const QList<EditOp> ops {EditOp::deletion(5, 2), EditOp::insert(5, u"xy"_s)};
    EXPECT_EQ(keysOf(LiveSyncMessage::edit(u"notes/a.md"_s, ops, 3, u"host"_s)),
              (QStringList {u"device"_s, u"file"_s, u"ops"_s, u"type"_s, u"v"_s}));
    EXPECT_EQ(keysOf(LiveSyncMessage::cursor(u"a.md"_s, 120, u"host"_s)),
              (QStringList {u"device"_s, u"file"_s, u"pos"_s, u"type"_s}));
    EXPECT_EQ(keysOf(LiveSyncMessage::select(u"a.md"_s, u"host"_s)),
              (QStringList {u"device"_s, u"file"_s, u"type"_s}));
    EXPECT_EQ(keysOf(LiveSyncMessage::scroll(u"a.md"_s, 12.5, u"host"_s)),
              (QStringList {u"device"_s, u"file"_s, u"offset"_s, u"type"_s}));
    EXPECT_EQ(keysOf(LiveSyncMessage::sync(u"a.md"_s, u"..."_s, 4, u"host"_s)),
              (QStringList {u"device"_s, u"file"_s, u"text"_s, u"type"_s, u"v"_s}));
    // An edit at the end of the version range goes out without "v".
    EXPECT_FALSE(
        encoded(LiveSyncMessage::edit(u"a.md"_s, ops, std::nullopt, u"h"_s)).contains("v"_L1));

    const QJsonObject edit = encoded(LiveSyncMessage::edit(u"notes/a.md"_s, ops, 3, u"host"_s));
    EXPECT_EQ(edit.value("type"_L1).toString(), u"edit"_s);
    EXPECT_EQ(
        QJsonDocument(edit.value("ops"_L1).toArray()).toJson(QJsonDocument::Compact),
        QByteArray(R"([{"len":2,"op":"delete","pos":5},{"op":"insert","pos":5,"text":"xy"}])"));
}

TEST(LiveSyncMessage, emptyOpsStayAnEmptyArrayAndAbsentOpsWriteNoKey)
{
    EXPECT_EQ(
        encoded(LiveSyncMessage::edit(u"a.md"_s, {}, 1, u"h"_s)).value("ops"_L1).toArray().size(),
        0);
    EXPECT_TRUE(encoded(LiveSyncMessage::edit(u"a.md"_s, {}, 1, u"h"_s)).contains("ops"_L1));
    EXPECT_FALSE(encoded(LiveSyncMessage::select(u"a.md"_s, u"h"_s)).contains("ops"_L1));
}

TEST(LiveSyncMessage, decodesTheWireFormatAndRoundTrips)
{
    const auto m
        = decode(R"({"type":"edit","file":"notes/a.md","device":"host","v":3,)"
                 R"("ops":[{"op":"delete","pos":5,"len":2},{"op":"insert","pos":5,"text":"xy"}]})");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, LiveMessageType::Edit);
    EXPECT_EQ(m->file, u"notes/a.md"_s);
    EXPECT_EQ(m->device, u"host"_s);
    EXPECT_EQ(m->v, 3);
    ASSERT_TRUE(m->ops);
    EXPECT_EQ(*m->ops, (QList<EditOp> {EditOp::deletion(5, 2), EditOp::insert(5, u"xy"_s)}));
    EXPECT_FALSE(m->pos);
    EXPECT_FALSE(m->text);
    EXPECT_EQ(*LiveSyncMessage::decode(*m->encode())->encode(), *m->encode());

    const auto scroll = decode(R"({"type":"scroll","file":"a.md","device":"d","offset":1e3})");
    ASSERT_TRUE(scroll);
    EXPECT_EQ(scroll->offset, 1000.0);

    const qint64 max = std::numeric_limits<qint64>::max();
    const auto big
        = LiveSyncMessage::decode(*LiveSyncMessage::sync(u"a"_s, u"t"_s, max, u"d"_s).encode());
    ASSERT_TRUE(big);
    EXPECT_EQ(big->v, max);
}

TEST(LiveSyncMessage, nullCountsAsAbsentAndUnknownKeysAreIgnored)
{
    const auto m = decode(R"({"type":"cursor","file":null,"pos":7,"ts":"2024-01-01","Type":"x"})");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, LiveMessageType::Cursor);
    EXPECT_FALSE(m->file);
    EXPECT_EQ(m->pos, 7);

    const auto zero = decode(R"({"type":"sync","file":"a.md","v":0,"text":""})");
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->v, 0); // present and versioned
    EXPECT_EQ(zero->text, QString());

    const auto unversioned = decode(R"({"type":"edit","file":"a.md","ops":[]})");
    ASSERT_TRUE(unversioned);
    EXPECT_FALSE(unversioned->v);

    // An insert without text decodes; applying it changes nothing.
    const auto bare = decode(R"({"type":"edit","ops":[{"op":"insert","pos":1}]})");
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->ops->front().text);
}

TEST(LiveSyncMessage, framesThatBreakTheFormatAreDroppedWhole)
{
    const char *bad[] = {
        "not json",
        "[]",
        "{}",
        R"({"type":"bogus"})",
        R"({"type":"PING"})",
        R"({"Type":"ping"})",
        R"({"type":5})",
        R"({"type":"edit","ops":[{"op":"move","pos":1}]})",
        R"({"type":"edit","ops":[{"op":"insert"}]})",
        R"({"type":"edit","ops":[{"op":"insert","pos":"1"}]})",
        R"({"type":"edit","ops":[{"op":"delete","pos":1,"len":1.5}]})",
        R"({"type":"edit","ops":{}})",
        R"({"type":"edit","ops":[1]})",
        R"({"type":"cursor","pos":"5"})",
        R"({"type":"edit","v":1.5})",
        R"({"type":"edit","v":9223372036854775808})",
        R"({"type":"edit","v":1e19})",
        R"({"type":"edit","file":3})",
        R"({"type":"scroll","offset":"12"})",
        R"({"type":"sync","text":false})",
        // Unpaired surrogate escapes are no text.
        R"({"type":"sync","text":"a\ud800b"})",
        R"({"type":"edit","ops":[{"op":"insert","pos":0,"text":"\udc00"}]})",
        R"({"type":"select","file":"\ud83d.md"})",
    };
    for (const char *frame : bad)
        EXPECT_FALSE(decode(frame)) << frame;
}

TEST(LiveSyncMessage, aNonFiniteScrollOffsetIsNotEncoded)
{
    EXPECT_FALSE(
        LiveSyncMessage::scroll(u"a"_s, std::numeric_limits<double>::quiet_NaN(), u"d"_s).encode());
    EXPECT_FALSE(
        LiveSyncMessage::scroll(u"a"_s, std::numeric_limits<double>::infinity(), u"d"_s).encode());
}

TEST(LiveSyncMessage, enumerationsUseTheirWireNames)
{
    const QStringList names {u"edit"_s, u"cursor"_s, u"select"_s, u"scroll"_s,
                             u"sync"_s, u"ping"_s,   u"pong"_s};
    for (const QString &name : names)
        EXPECT_EQ(toString(*liveMessageTypeFromString(name)), name);
    EXPECT_FALSE(liveMessageTypeFromString(u"Edit"));
    EXPECT_EQ(toString(EditOpKind::Delete), u"delete"_s);
    EXPECT_EQ(editOpKindFromString(u"insert"), EditOpKind::Insert);
    EXPECT_FALSE(editOpKindFromString(u"move"));
}

TEST(LiveSyncMessage, theMergeKeyTravelsAlongAndAnythingButAnObjectThereIsIgnored)
{
    auto m = LiveSyncMessage::edit(u"a.md"_s, {EditOp::insert(0, u"x"_s)}, 3, u"host"_s);
    m.merge = QJsonObject {{u"epoch"_s, u"e"_s}};
    const auto back = LiveSyncMessage::decode(*m.encode());
    ASSERT_TRUE(back && back->merge);
    EXPECT_EQ(back->merge->value("epoch"_L1).toString(), u"e"_s);
    EXPECT_EQ(back->ops, m.ops);
    const auto other
        = LiveSyncMessage::decode(R"({"type":"edit","file":"a.md","v":1,"ops":[],"merge":5})");
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->merge);
    EXPECT_FALSE(encoded(LiveSyncMessage::ping()).contains("merge"_L1));
}

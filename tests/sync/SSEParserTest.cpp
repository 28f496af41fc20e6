#include "core/sync/SSEParser.h"

#include <gtest/gtest.h>

namespace {

const QString kFolder = QStringLiteral("42");

QList<SSEChangeNotification> parse(const QList<QByteArray> &chunks, qint64 cap = 1 << 20,
                                   int *dropped = nullptr)
{
    SSEParser parser(kFolder, cap);
    QList<SSEChangeNotification> out;
    for (const QByteArray &chunk : chunks)
        parser.feed(chunk, out);
    if (dropped)
        *dropped = parser.droppedLines();
    return out;
}

SSEChangeNotification note(std::optional<QString> id, SSEEventType type)
{
    return SSEChangeNotification(std::move(id), kFolder, type);
}

} // namespace

TEST(SSEParser, eventsCompleteOnEmptyLines)
{
    EXPECT_EQ(parse({"id: 42\nevent: structure_changed\n\n"}),
              (QList {note(QStringLiteral("42"), SSEEventType::structureChanged)}));
    EXPECT_EQ(parse({"event: file_request\ndata: {\"x\":1}\n\n"}),
              (QList {note(std::nullopt, SSEEventType::fileRequest)}));
    EXPECT_EQ(parse({"\n"}), (QList {note(std::nullopt, SSEEventType::change)}));
    // The pending id and type are reset after each event: two blank lines give a bare change.
    EXPECT_EQ(parse({"id: 1\nevent: file_available\n\n\n"}),
              (QList {note(QStringLiteral("1"), SSEEventType::fileAvailable),
                      note(std::nullopt, SSEEventType::change)}));
    // Unknown or differently spelled names are changes; an empty id stays an (empty) id.
    EXPECT_EQ(
        parse({"event: File_Request\n\nevent: file-request\n\nid:\t \n\n"}),
        (QList {note(std::nullopt, SSEEventType::change), note(std::nullopt, SSEEventType::change),
                note(QString(""), SSEEventType::change)}));
    // Field names are case-sensitive; other fields and comments are ignored.
    EXPECT_EQ(parse({"ID: 9\nEvent: file_request\nretry: 10\n: hello\nfoo: bar\n\n"}),
              (QList {note(std::nullopt, SSEEventType::change)}));
    // Unicode horizontal space is trimmed too.
    EXPECT_EQ(parse({QByteArray("id:\xC2\xA0"
                                "7\xE2\x80\x83\n\n")}),
              (QList {note(QStringLiteral("7"), SSEEventType::change)}));
}

TEST(SSEParser, keepalivesYieldAtOnceAndKeepThePendingEvent)
{
    EXPECT_EQ(parse({"id: 5\nevent: file_request\n: keepalive 120\n\n"}),
              (QList {note(QStringLiteral("120"), SSEEventType::keepalive),
                      note(QStringLiteral("5"), SSEEventType::fileRequest)}));
    // Without a value, without the space, or with only spaces: nothing.
    EXPECT_TRUE(parse({": keepalive\n: keepalive \n:keepalive 5\n: keepalive    \n"}).isEmpty());
    EXPECT_EQ(parse({": keepalive  77 \n"}),
              (QList {note(QStringLiteral("77"), SSEEventType::keepalive)}));
}

TEST(SSEParser, lineEndsAcrossReads)
{
    const QList<SSEChangeNotification> one {note(QStringLiteral("1"), SSEEventType::change)};
    EXPECT_EQ(parse({"id: 1\r\n\r\n"}), one);
    EXPECT_EQ(parse({"id: 1\r\r"}), one);
    // CR | LF split between two reads is one line end, not a line plus an empty line.
    EXPECT_EQ(parse({"id: 1\r", "\n", "\r", "\n"}), one);
    EXPECT_EQ(parse({"id: 1\r", "\nevent: change\r", "\n\r", "\n"}), one);
    // Byte by byte.
    const QByteArray text = "id: 3\r\nevent: device_changed\r\n\r\n: keepalive 4\r\n";
    QList<QByteArray> bytes;
    for (char c : text)
        bytes.append(QByteArray(1, c));
    EXPECT_EQ(parse(bytes),
              (QList {note(QStringLiteral("3"), SSEEventType::deviceChanged),
                      note(QStringLiteral("4"), SSEEventType::keepalive)}));
    // A multi-byte character split across reads survives; a BOM at the start is dropped.
    EXPECT_EQ(parse({"\xEF\xBB\xBF"
                     "id: \xC3",
                     "\xA4\n\n"}),
              (QList {note(QStringLiteral("ä"), SSEEventType::change)}));
    // An event without its closing blank line is not delivered.
    EXPECT_TRUE(parse({"id: 9\nevent: change\n"}).isEmpty());
}

TEST(SSEParser, overlongLinesAreDroppedAndTheStreamGoesOn)
{
    int dropped = 0;
    const QByteArray huge(100, 'x');
    const auto out = parse({"id: 1\n", "data: " + huge, huge, "\n\nid: 2\n\n"}, 64, &dropped);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(out,
              (QList {note(QStringLiteral("1"), SSEEventType::change),
                      note(QStringLiteral("2"), SSEEventType::change)}));
    // A dropped id line does not leak into the event.
    const auto out2 = parse({"id: " + huge + "\n\n"}, 64, &dropped);
    EXPECT_EQ(out2, (QList {note(std::nullopt, SSEEventType::change)}));
}

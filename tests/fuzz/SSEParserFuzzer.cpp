// An event stream as the backend might send it, cut into reads where the input says: however the
// bytes arrive, the same notifications come out, and no line grows past the cap.
#include "FuzzInput.h"

#include "core/sync/SSEParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Reader in(data, size);
    const qint64 cap = 1 + in.byte() * 4;
    const uint8_t cut = in.byte();
    const QByteArray stream = in.rest();

    SSEParser whole(QStringLiteral("42"), cap);
    QList<SSEChangeNotification> expected;
    whole.feed(stream, expected);

    SSEParser pieces(QStringLiteral("42"), cap);
    QList<SSEChangeNotification> got;
    for (qsizetype at = 0, n = 1 + cut % 16; at < stream.size(); at += n)
        pieces.feed(stream.mid(at, n), got);
    fuzz::check(got == expected, "reads in pieces parse like one read");
    fuzz::check(pieces.droppedLines() == whole.droppedLines(), "the same lines are dropped");
    return 0;
}

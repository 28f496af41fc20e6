// Response bytes of an AI provider: split into lines as they arrive in pieces, each line read in
// all three dialects. The lines must not depend on how the bytes were cut (unless a line outgrew
// the cap: a whole read sees the lines behind it, reads in pieces stop there).
#include "FuzzInput.h"

#include "core/ai/AILineParser.h"
#include "core/ai/LineSplitter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Reader in(data, size);
    const qsizetype cap = 1 + in.byte() * 16;
    const uint8_t cut = in.byte();
    const QByteArray stream = in.rest();

    LineSplitter whole(cap);
    QList<QByteArray> expected = whole.feed(stream);
    expected += whole.finish();

    LineSplitter pieces(cap);
    QList<QByteArray> lines;
    for (qsizetype at = 0, n = 1 + cut % 32; at < stream.size(); at += n)
        lines += pieces.feed(stream.mid(at, n));
    lines += pieces.finish();
    if (!whole.overflowed() && !pieces.overflowed())
        fuzz::check(lines == expected, "reads in pieces split like one read");

    for (const QByteArray &line : lines) {
        const QString text = QString::fromUtf8(line);
        for (auto dialect : {AILineParser::Dialect::anthropic, AILineParser::Dialect::openAI,
                             AILineParser::Dialect::ollama})
            AILineParser::parse(dialect, text);
    }
    return 0;
}

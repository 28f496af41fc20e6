// Text diff and apply on 1 MiB documents: the per-keystroke path of live editing.
#include "core/live/TextDiff.h"

#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <random>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype documentSize = 1024 * 1024;

QString buildDocument(const QStringList &lines)
{
    QString doc;
    doc.reserve(documentSize + 256);
    for (qsizetype i = 0; doc.size() < documentSize; ++i)
        doc += lines[i % lines.size()];
    doc.truncate(documentSize);
    return doc;
}

const QString &asciiDocument()
{
    static const QString doc = buildDocument({
        u"# Heading about the project\n"_s,
        u"Some plain prose with *emphasis*, `code` and a [link](https://example.com).\n"_s,
        u"- a list item that goes on for a while to make the line realistic\n"_s,
        u"```\nint main() { return 0; }\n```\n"_s,
        u"\n"_s,
    });
    return doc;
}

// Umlauts, emoji with skin tones, flags, combining marks and CJK on every line.
const QString &mixedDocument()
{
    static const QString doc = buildDocument({
        u"Gr\u00fc\u00dfe aus M\u00fcnchen \U0001F44D\U0001F3FD und caf\u00e9 ist e\u0301te\u0301.\n"_s,
        u"- \U0001F1E9\U0001F1EA Deutsch, \u4E2D\u6587, \u65E5\u672C\u8A9E and na\u00efve r\u00e9sum\u00e9\n"_s,
        u"\u00c4rger \u00fcber \u00d6l: \U0001F468\u200D\U0001F469\u200D\U0001F467 family \u2014 fin.\n"_s,
    });
    return doc;
}

// Scripts whose Characters span several code points throughout: Devanagari and Bengali
// conjuncts, Hangul, Thai, Arabic with marks, emoji sequences.
const QString &scriptsDocument()
{
    static const QString doc = buildDocument({
        u"नमस्ते दुनिया, क्षमा करें। स्वागत है।\n"_s,
        u"한국어 문장입니다. สวัสดีครับ น้ำใจ\n"_s,
        u"আমার সোনার বাংলা مَرْحَبًا 👩‍💻 🇮🇳\n"_s,
    });
    return doc;
}

QString insertedAt(const QString &doc, double fraction, const QString &what)
{
    qsizetype at = qsizetype(double(doc.size()) * fraction);
    while (at < doc.size() && doc[at].isLowSurrogate())
        ++at;
    return doc.left(at) + what + doc.mid(at);
}

void report(benchmark::State &state, const QString &doc)
{
    state.counters["doc_utf16_units"] = double(doc.size());
}

// The typing path: the old text is the new text of the previous keystroke, so what the diff
// learned about it is at hand.
void diffTyping(benchmark::State &state, const QString &doc, double fraction)
{
    const QString edited = insertedAt(doc, fraction, u"x"_s);
    benchmark::DoNotOptimize(TextDiff::diff(doc, edited));
    for (auto _ : state)
        benchmark::DoNotOptimize(TextDiff::diff(doc, edited));
    report(state, doc);
}

// A document seen for the first time (just opened, or replaced by a remote full text).
void diffCold(benchmark::State &state, const QString &doc, double fraction)
{
    const QString edited = insertedAt(doc, fraction, u"x"_s);
    for (auto _ : state) {
        state.PauseTiming();
        const QString fresh(doc.constData(), doc.size());
        state.ResumeTiming();
        benchmark::DoNotOptimize(TextDiff::diff(fresh, edited));
    }
    report(state, doc);
}

void BM_DiffAsciiInsertAt60Percent(benchmark::State &s)
{
    diffTyping(s, asciiDocument(), 0.6);
}
void BM_DiffAsciiInsertAtEnd(benchmark::State &s)
{
    diffTyping(s, asciiDocument(), 1.0);
}
void BM_DiffMixedInsertAtMiddle(benchmark::State &s)
{
    diffTyping(s, mixedDocument(), 0.5);
}
void BM_DiffMixedInsertAtEnd(benchmark::State &s)
{
    diffTyping(s, mixedDocument(), 1.0);
}
void BM_DiffAsciiColdInsertAt60Percent(benchmark::State &s)
{
    diffCold(s, asciiDocument(), 0.6);
}
void BM_DiffMixedColdInsertAtMiddle(benchmark::State &s)
{
    diffCold(s, mixedDocument(), 0.5);
}

void BM_DiffScriptsInsertAtMiddle(benchmark::State &s)
{
    diffTyping(s, scriptsDocument(), 0.5);
}
void BM_DiffScriptsColdInsertAtMiddle(benchmark::State &s)
{
    diffCold(s, scriptsDocument(), 0.5);
}

void BM_DiffMixedFullRewrite(benchmark::State &state)
{
    const QString &doc = mixedDocument();
    const QString other = u"!"_s + doc.mid(1).chopped(1) + u"?"_s;
    for (auto _ : state)
        benchmark::DoNotOptimize(TextDiff::diff(doc, other));
    report(state, doc);
}

// A received [delete, insert] replayed on the receiver's copy.
void applyTyping(benchmark::State &state, const QString &doc)
{
    // A word of three Characters replaced in the middle.
    qsizetype at = doc.size() / 2;
    while (!doc[at].isLetter() || !doc[at + 1].isLetter() || !doc[at + 2].isLetter())
        ++at;
    const QString edited = doc.left(at) + u"\u00e9t\u00e9"_s + doc.mid(at + 3);
    const QList<EditOp> ops = TextDiff::diff(doc, edited);
    const QString receiver(doc.constData(), doc.size()); // the peer's own buffer
    benchmark::DoNotOptimize(TextDiff::apply(ops, receiver));
    for (auto _ : state)
        benchmark::DoNotOptimize(TextDiff::apply(ops, receiver));
    state.counters["ops"] = double(ops.size());
    report(state, doc);
}

void BM_ApplyAsciiDeleteInsert(benchmark::State &s)
{
    applyTyping(s, asciiDocument());
}
void BM_ApplyMixedDeleteInsert(benchmark::State &s)
{
    applyTyping(s, mixedDocument());
}

void BM_ApplyMixedCold(benchmark::State &state)
{
    const QString &doc = mixedDocument();
    const QList<EditOp> ops {EditOp::deletion(200000, 3), EditOp::insert(200000, u"\u00fc"_s)};
    for (auto _ : state) {
        state.PauseTiming();
        const QString fresh(doc.constData(), doc.size());
        state.ResumeTiming();
        benchmark::DoNotOptimize(TextDiff::apply(ops, fresh));
    }
    report(state, doc);
}

// A hostile peer's edit: 20,000 operations at random places, inserts and deletes mixed. The
// receiver must stay responsive whatever a frame holds.
QList<EditOp> scatteredOperations(const QString &doc, int count)
{
    std::mt19937 rng(11);
    const qint64 characters = TextDiff::characterCount(doc);
    std::uniform_int_distribution<qint64> at(0, characters - 100);
    QList<EditOp> ops;
    for (int i = 0; i < count; ++i) {
        if (i % 2)
            ops.append(EditOp::deletion(at(rng), 3));
        else
            ops.append(EditOp::insert(at(rng), u"wört"_s));
    }
    return ops;
}

void applyScattered(benchmark::State &state, const QString &doc)
{
    const QList<EditOp> ops = scatteredOperations(doc, 20000);
    for (auto _ : state) {
        state.PauseTiming();
        const QString fresh(doc.constData(), doc.size());
        state.ResumeTiming();
        benchmark::DoNotOptimize(TextDiff::apply(ops, fresh));
    }
    state.counters["ops"] = double(ops.size());
    report(state, doc);
}

void BM_Apply20000ScatteredOpsAscii(benchmark::State &s)
{
    applyScattered(s, asciiDocument());
}
void BM_Apply20000ScatteredOpsMixed(benchmark::State &s)
{
    applyScattered(s, mixedDocument());
}

// 10,000 characters typed into the middle of a 128 KiB mixed document, each diffed on the
// sender and applied on the receiver; the receiver must end with the sender's text.
void BM_Replay10000Keystrokes(benchmark::State &state)
{
    const QString typed
        = u"Live editing \u00fcber Grenzen \U0001F44D\U0001F3FD. "_s.repeated(400).left(10000);
    for (auto _ : state) {
        QString sender = mixedDocument().left(64 * 1024);
        QString receiver(sender.constData(), sender.size());
        qsizetype at = sender.size() / 2;
        for (qsizetype i = 0; i < typed.size(); ++i) {
            const QString next = sender.left(at) + typed[i] + sender.mid(at);
            ++at;
            receiver = TextDiff::apply(TextDiff::diff(sender, next), receiver);
            sender = next;
        }
        if (receiver != sender)
            state.SkipWithError("receiver diverged");
    }
    state.counters["keystrokes"] = double(typed.size());
}

} // namespace

BENCHMARK(BM_DiffAsciiInsertAt60Percent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffAsciiInsertAtEnd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffMixedInsertAtMiddle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffMixedInsertAtEnd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffAsciiColdInsertAt60Percent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffMixedColdInsertAtMiddle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffScriptsInsertAtMiddle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffScriptsColdInsertAtMiddle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffMixedFullRewrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyAsciiDeleteInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyMixedDeleteInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyMixedCold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Apply20000ScatteredOpsAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Apply20000ScatteredOpsMixed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Replay10000Keystrokes)->Unit(benchmark::kMillisecond)->Iterations(1);

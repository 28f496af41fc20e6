// Canonical equality of multi-megabyte texts: run on every text revision of the workspace (is
// the text modified, did it change), and once against the empty text when a file is opened.
#include "platform/Text.h"

#include <QString>

#include <benchmark/benchmark.h>

namespace {

// 5 MiB of UTF-8 made of short sections whose headings and text all carry non-ASCII characters.
QString sections(const QString &section)
{
    const qsizetype bytes
        = QString::fromUtf8("# Head ñ\n\nText mit Umlauten äöü und € und 😀.\n\n").toUtf8().size();
    QString text;
    for (qsizetype size = 0; size + bytes <= 5 * 1024 * 1024; size += bytes)
        text += section;
    return text;
}

const QString &headingDocument()
{
    static const QString doc
        = sections(QString::fromUtf8("# Head ñ\n\nText mit Umlauten äöü und € und 😀.\n\n"));
    return doc;
}

void BM_EmptyAgainstDocument(benchmark::State &state)
{
    const QString &doc = headingDocument();
    for (auto _ : state)
        benchmark::DoNotOptimize(canonicallyEqual(QString(), doc));
}
BENCHMARK(BM_EmptyAgainstDocument)->Unit(benchmark::kMillisecond);

// One character in the middle differs: a keystroke's comparison.
void BM_OneCharacterApart(benchmark::State &state)
{
    const QString &doc = headingDocument();
    QString other = doc;
    other[other.size() / 2] = u'#';
    for (auto _ : state)
        benchmark::DoNotOptimize(canonicallyEqual(doc, other));
}
BENCHMARK(BM_OneCharacterApart)->Unit(benchmark::kMillisecond);

// Equal texts in separate buffers, one of them decomposed: every character must be compared.
void BM_PrecomposedAgainstDecomposed(benchmark::State &state)
{
    const QString &doc = headingDocument();
    const QString decomposed = sections(QString::fromUtf8(
        "# Head n\u0303\n\nText mit Umlauten a\u0308o\u0308u\u0308 und € und 😀.\n\n"));
    for (auto _ : state)
        benchmark::DoNotOptimize(canonicallyEqual(doc, decomposed));
}
BENCHMARK(BM_PrecomposedAgainstDecomposed)->Unit(benchmark::kMillisecond);

} // namespace

#pragma once

#include <QString>
#include <QStringList>

// A generated document of prose with emphasis, links and inline mathematics, nested lists, code,
// tables, display mathematics, quotes and headings: everything the highlighter styles and the
// preview typesets (about one formula per 450 bytes).
namespace benchsupport {

inline QString mixedChunk(int i)
{
    static const QStringList parts = {
        QStringLiteral("Ein Absatz mit *Betonung*, **fettem Text**, `inline code` und einem "
                       "[Link](https://example.invalid/%1) sowie $a_{%1}^2 + b^2 = c^2$ im Satz. "
                       "Größere Änderungen folgen später, „Zitat“ und noch mehr Wörter, damit die "
                       "Zeile umbricht.\n\n"),
        QStringLiteral("- erster Punkt mit ~~alt~~ neu\n- zweiter Punkt\n  - eingerückt %1\n"
                       "    1. tiefer mit *Betonung*\n    2. noch tiefer mit `code`\n"
                       "- dritter Punkt\n\n"),
        QStringLiteral("```cpp\nint f%1(int x)\n{\n    return x * %1; // Kommentar\n}\n```\n\n"),
        QStringLiteral("| Spalte | Wert | Anmerkung |\n|:---|---:|---|\n| a%1 | %1 | *kursiv* |\n"
                       "| b | $x^2$ | [Link](#abschnitt-%1) |\n\n"),
        QStringLiteral("$$\n\\int_0^{%1} x^2 \\, dx = \\frac{%1^3}{3}\n$$\n\n"),
        QStringLiteral("> Ein Zitat über zwei\n> Zeilen mit **Betonung** %1\n\n"),
        QStringLiteral("Noch ein Absatz, der etwas länger ist, mit _Unterstrich_, ~~Streichung~~ "
                       "und einem Bild ![Bild](bild%1.png) — „Lorem ipsum“ dolor sit amet.\n\n"),
    };
    QString chunk;
    if (i % 8 == 0)
        chunk = (i % 32 == 0 ? QStringLiteral("# Kapitel %1\n\n")
                             : QStringLiteral("## Abschnitt %1\n\n"));
    chunk += parts[i % parts.size()];
    return chunk.arg(i);
}

// Appends chunks until the UTF-8 size reaches `bytes`.
template<typename Chunk> QString fill(qint64 bytes, const Chunk &chunk)
{
    QString text;
    qint64 size = 0;
    for (int i = 0; size < bytes; ++i) {
        const QString part = chunk(i);
        size += part.toUtf8().size();
        text += part;
    }
    return text;
}

inline QString mixedDocument(qint64 bytes)
{
    return fill(bytes, mixedChunk);
}

} // namespace benchsupport

#include "IcuOracle.h"

#include <unicode/ubrk.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace oracle {

std::vector<qsizetype> boundaries(const QString &text)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UBreakIterator, void (*)(UBreakIterator *)> it(
        ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar *>(text.utf16()),
                  int32_t(text.size()), &status),
        ubrk_close);
    std::vector<qsizetype> result;
    if (U_FAILURE(status))
        return result;
    for (int32_t b = ubrk_next(it.get()); b != UBRK_DONE; b = ubrk_next(it.get()))
        result.push_back(b);
    return result;
}

QStringList characters(const QString &text)
{
    QStringList result;
    qsizetype from = 0;
    for (qsizetype b : boundaries(text)) {
        result.append(text.mid(from, b - from));
        from = b;
    }
    return result;
}

const QStringList &pieces()
{
    static const QStringList alphabet {
        u"a"_s,
        u"b"_s,
        u" "_s,
        u"."_s,
        u"\t"_s,
        u"\n"_s,
        u"\r"_s,
        u"\r\n"_s,
        // combining marks, precomposed and decomposed spellings, a singleton decomposition
        u"e\u0301"_s,
        u"\u00e9"_s,
        u"\u0301"_s,
        u"\u0323"_s,
        u"\u00e4"_s,
        u"\u212A"_s,
        u"K"_s,
        // emoji: pictographs, ZWJ, a ZWJ family, skin tones, variation selector, keycap, tags
        u"\U0001F600"_s,
        u"\U0001F44D"_s,
        u"\U0001F3FD"_s,
        u"\u200D"_s,
        u"\U0001F468"_s,
        u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s,
        u"\u2764\uFE0F"_s,
        u"\uFE0F"_s,
        u"1\uFE0F\u20E3"_s,
        u"\u20E3"_s,
        u"\u00A9"_s,
        u"\U0001F3F4\U000E0067\U000E0062\U000E0073\U000E0063\U000E0074\U000E007F"_s,
        // regional indicators, alone and as flags
        u"\U0001F1E9"_s,
        u"\U0001F1EA"_s,
        u"\U0001F1E9\U0001F1EA"_s,
        // Hangul syllables and conjoining jamo
        u"\uD55C"_s,
        u"\uAC00"_s,
        u"\u1100"_s,
        u"\u1161"_s,
        u"\u11A8"_s,
        // Indic: Devanagari and Bengali conjuncts, a virama, a vowel sign, a nukta; Thai; Tamil
        u"\u0915"_s,
        u"\u094D"_s,
        u"\u0937"_s,
        u"\u0938\u094D\u0924\u0947"_s,
        u"\u093F"_s,
        u"\u093C"_s,
        u"\u0995\u09CD\u09B7"_s,
        u"\u0E01"_s,
        u"\u0E33"_s,
        u"\u0B95\u0BCD"_s,
        // prepended letters, Arabic, CJK, a halfwidth voiced mark, a lone surrogate
        u"\u0600"_s,
        u"\U000110BD"_s,
        u"\u0628"_s,
        u"\u4E2D"_s,
        u"\uFF9E"_s,
        QString(QChar(0xD800)),
        u"\u00A0"_s,
        u"-"_s,
    };
    return alphabet;
}

QString randomText(std::mt19937 &rng, int maxPieces, const QStringList &alphabet)
{
    std::uniform_int_distribution<int> count(0, maxPieces);
    std::uniform_int_distribution<int> pick(0, int(alphabet.size()) - 1);
    QString s;
    for (int n = count(rng); n > 0; --n)
        s += alphabet[pick(rng)];
    return s;
}

} // namespace oracle

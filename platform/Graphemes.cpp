#include "platform/Graphemes.h"

#include "platform/Text.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

// Segmenting with ICU's break iterator costs tens of nanoseconds per code unit plus a fixed
// setup per call, too much for counting a large document on every keystroke. So a small state
// machine walks the text with ICU's property data and applies the rules ICU's character break
// rules consist of: the pairwise rules of UAX #29 on Grapheme_Cluster_Break values, the three that
// look further back (emoji ZWJ sequences, regional indicator pairs, and ICU's conjuncts of
// Bengali, Devanagari, Gujarati, Malayalam, Oriya and Telugu). Letters and marks of the other
// scripts with Indic syllabic categories go to ICU's iterator itself, from the start of their
// Character to the next safe boundary, so that any rule of ICU's for them holds as well. The
// tests check the walk against the iterator on whole texts.
namespace graphemes {

namespace {

enum Kind : quint8 {
    Other,
    CR,
    LF,
    Control,
    Extend, // with canonical combining class 0
    ExtendCcc, // Extend with another class: may stand between a conjunct's consonant and virama
    Virama, // of the conjunct scripts; an Extend with class 9
    ZWJ,
    RegionalIndicator,
    Prepend,
    SpacingMark,
    L,
    V,
    T,
    LV,
    LVT,
    Pictographic,
    LinkingConsonant, // a consonant of the conjunct scripts; otherwise like Other
    Complex, // decided by ICU's iterator
    None, // no code point before
    Surrogate, // in the table only: a code unit that needs its partner
};

bool isExtend(Kind k)
{
    return k == Extend || k == ExtendCcc || k == Virama;
}

bool isControl(Kind k)
{
    return k == Control || k == CR || k == LF;
}

bool isConjunctScript(UScriptCode script)
{
    switch (script) {
    case USCRIPT_BENGALI:
    case USCRIPT_DEVANAGARI:
    case USCRIPT_GUJARATI:
    case USCRIPT_MALAYALAM:
    case USCRIPT_ORIYA:
    case USCRIPT_TELUGU:
        return true;
    default:
        return false;
    }
}

Kind computeKind(char32_t c)
{
    if (U_IS_SURROGATE(c))
        return Other; // unpaired: ICU segments it like a letter, though its property says Control
    Kind kind = Other;
    switch (u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK)) {
    case U_GCB_CR:
        return CR;
    case U_GCB_LF:
        return LF;
    case U_GCB_CONTROL:
        return Control;
    case U_GCB_PREPEND:
        // Joins whatever follows, which the safe boundaries must see, whatever its script.
        return Prepend;
    case U_GCB_EXTEND:
        kind = u_getCombiningClass(UChar32(c)) == 0 ? Extend : ExtendCcc;
        break;
    case U_GCB_ZWJ:
        kind = ZWJ;
        break;
    case U_GCB_REGIONAL_INDICATOR:
        kind = RegionalIndicator;
        break;
    case U_GCB_SPACING_MARK:
        kind = SpacingMark;
        break;
    case U_GCB_L:
        kind = L;
        break;
    case U_GCB_V:
        kind = V;
        break;
    case U_GCB_T:
        kind = T;
        break;
    case U_GCB_LV:
        kind = LV;
        break;
    case U_GCB_LVT:
        kind = LVT;
        break;
    default:
        if (u_hasBinaryProperty(UChar32(c), UCHAR_EXTENDED_PICTOGRAPHIC))
            kind = Pictographic;
        break;
    }
    const auto category
        = UIndicSyllabicCategory(u_getIntPropertyValue(UChar32(c), UCHAR_INDIC_SYLLABIC_CATEGORY));
    if (category == U_INSC_OTHER)
        return kind;
    // Shared punctuation such as the hyphen or NBSP has a category too but belongs to no script.
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(UChar32(c), &status);
    if (script == USCRIPT_COMMON || script == USCRIPT_INHERITED)
        return kind;
    if (!isConjunctScript(script))
        return Complex;
    if (category == U_INSC_CONSONANT && kind == Other)
        return LinkingConsonant;
    if (category == U_INSC_VIRAMA && kind == ExtendCcc)
        return Virama;
    return kind;
}

// The kinds of the first two planes, where nearly all text lives, looked up once.
constexpr char32_t tabled = 0x20000;

const Kind *kindTable()
{
    static const std::unique_ptr<std::array<Kind, tabled>> table = [] {
        auto kinds = std::make_unique<std::array<Kind, tabled>>();
        for (char32_t c = 0; c < tabled; ++c)
            (*kinds)[c] = U_IS_SURROGATE(c) ? Surrogate : computeKind(c);
        return kinds;
    }();
    return table->data();
}

Kind kindOf(char32_t c)
{
    if (U_IS_SURROGATE(c))
        return Other; // unpaired
    return c < tabled ? kindTable()[c] : computeKind(c);
}

char32_t codePointAt(const char16_t *units, qsizetype n, qsizetype i, qsizetype *size)
{
    const char16_t unit = units[i];
    if (QChar::isHighSurrogate(unit) && i + 1 < n && QChar::isLowSurrogate(units[i + 1])) {
        *size = 2;
        return QChar::surrogateToUcs4(unit, units[i + 1]);
    }
    *size = 1;
    return unit;
}

char32_t codePointBefore(const char16_t *units, qsizetype position)
{
    const char16_t low = units[position - 1];
    if (QChar::isLowSurrogate(low) && position >= 2 && QChar::isHighSurrogate(units[position - 2]))
        return QChar::surrogateToUcs4(units[position - 2], low);
    return low;
}

// A boundary in any context from which nothing looks back: after a control or line break, before
// one, and before a plain character (no mark, joiner, pictograph, Hangul, Indic consonant,
// regional indicator) that does not follow a prepended one.
bool isSafe(const char16_t *units, qsizetype n, qsizetype position)
{
    if (position <= 0 || position >= n)
        return true;
    if (QChar::isLowSurrogate(units[position]) && QChar::isHighSurrogate(units[position - 1]))
        return false;
    qsizetype size = 1;
    const Kind after = kindOf(codePointAt(units, n, position, &size));
    const Kind before = kindOf(codePointBefore(units, position));
    if (before == Control || before == LF)
        return true;
    if (before == CR)
        return after != LF;
    if (isControl(after))
        return true;
    return after == Other && before != Prepend;
}

// Whether four code units are all printable ASCII (U+0020 to U+007E), tested at once: prose is
// mostly that, and each of them is a Character of its own.
bool isPrintableAscii4(const char16_t *units)
{
    quint64 w;
    std::memcpy(&w, units, sizeof w);
    constexpr quint64 lanes = 0x0001000100010001;
    constexpr quint64 bit7 = lanes * 0x80;
    return (w & (lanes * 0xFF80)) == 0 // all below 0x80, so no lane carries into the next
        && ((w + lanes * 0x60) & bit7) == bit7 // all at least 0x20
        && ((w + lanes) & bit7) == 0; // none is 0x7F
}

// What the rules that look back have seen so far.
struct Context
{
    Kind previous = None;
    bool pictographChain = false; // Extended_Pictographic Extend*
    bool zwjAfterPictograph = false; // Extended_Pictographic Extend* ZWJ
    bool oddRegionalIndicators = false; // an odd run of regional indicators just before
    enum { NoConjunct, AfterConsonant, AfterVirama } conjunct = NoConjunct;

    // Whether a boundary lies before a code point of kind b; then takes it in.
    bool breaksBefore(Kind b)
    {
        const bool result = previous != None && breaks(previous, b);
        zwjAfterPictograph = b == ZWJ && pictographChain;
        pictographChain = b == Pictographic || (isExtend(b) && pictographChain);
        oddRegionalIndicators
            = b == RegionalIndicator && !(previous == RegionalIndicator && oddRegionalIndicators);
        if (b == LinkingConsonant)
            conjunct = AfterConsonant;
        else if (b == Virama)
            conjunct = conjunct == NoConjunct ? NoConjunct : AfterVirama;
        else if (b != ExtendCcc && b != ZWJ)
            conjunct = NoConjunct;
        previous = b;
        return result;
    }

private:
    bool breaks(Kind a, Kind b) const
    {
        if (a == CR && b == LF)
            return false;
        if (isControl(a) || isControl(b))
            return true;
        switch (a) {
        case L:
            if (b == L || b == V || b == LV || b == LVT)
                return false;
            break;
        case LV:
        case V:
            if (b == V || b == T)
                return false;
            break;
        case LVT:
        case T:
            if (b == T)
                return false;
            break;
        default:
            break;
        }
        if (isExtend(b) || b == ZWJ || b == SpacingMark || a == Prepend)
            return false;
        if (b == LinkingConsonant && conjunct == AfterVirama)
            return false;
        if (a == ZWJ && b == Pictographic)
            return !zwjAfterPictograph;
        if (a == RegionalIndicator && b == RegionalIndicator)
            return !oddRegionalIndicators;
        return true;
    }
};

UBreakIterator *characterIterator()
{
    struct Closer
    {
        void operator()(UBreakIterator *it) const { ubrk_close(it); }
    };
    thread_local const std::unique_ptr<UBreakIterator, Closer> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UBreakIterator *it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status))
            qFatal("ICU character break iterator unavailable: %s", u_errorName(status));
        return std::unique_ptr<UBreakIterator, Closer>(it);
    }();
    return iterator.get();
}

// Walks [from, to) (both safe boundaries) and calls report(boundary) for every boundary after
// `from`, `to` included; stops early when report answers false.
template<typename Report>
void walk(const char16_t *units, qsizetype n, qsizetype from, qsizetype to, Report &&report)
{
    const Kind *table = kindTable();
    qsizetype start = from; // where the current Character began
    Context context;
    qsizetype i = from;
    while (i < to) {
        qsizetype size = 1;
        Kind kind = table[units[i]];
        if (kind == Surrogate)
            kind = kindOf(codePointAt(units, n, i, &size));
        // The commonest case first: a plain character starts a Character unless a prepended one
        // came before, and so does every plain character right after it.
        if (kind == Other) {
            if (context.previous != None && context.previous != Prepend) {
                if (!report(i))
                    return;
                start = i;
            }
            for (i += size; i < to;) {
                if (i + 4 <= to && isPrintableAscii4(units + i)) {
                    if (!report(i) || !report(i + 1) || !report(i + 2) || !report(i + 3))
                        return;
                    start = i + 3;
                    i += 4;
                    continue;
                }
                if (table[units[i]] != Other)
                    break;
                if (!report(i))
                    return;
                start = i++;
            }
            context = Context {Other};
            continue;
        }
        if (kind == Complex) {
            // ICU from the start of this Character (a boundary, so its iteration matches the
            // whole text's) to a boundary no rule reaches across.
            const qsizetype end = std::min(nextSafeBoundary(QStringView(units, n), i + size), to);
            UBreakIterator *it = characterIterator();
            UErrorCode status = U_ZERO_ERROR;
            ubrk_setText(it, reinterpret_cast<const UChar *>(units + start), int32_t(end - start),
                         &status);
            for (int32_t b = ubrk_next(it); b != UBRK_DONE; b = ubrk_next(it)) {
                if (!report(start + b))
                    return;
            }
            start = i = end;
            context = Context {};
            continue;
        }
        if (context.breaksBefore(kind)) {
            if (!report(i))
                return;
            start = i;
        }
        i += size;
    }
    if (start != to)
        report(to);
}

} // namespace

QString unicodeVersion()
{
    UVersionInfo version;
    u_getUnicodeVersion(version);
    char text[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(version, text);
    return QString::fromLatin1(text);
}

bool isSafeBoundary(QStringView text, qsizetype position)
{
    return isSafe(text.utf16(), text.size(), position);
}

qsizetype nextSafeBoundary(QStringView text, qsizetype position)
{
    const char16_t *units = text.utf16();
    const qsizetype n = text.size();
    qsizetype k = std::max<qsizetype>(position, 0);
    while (k < n && !isSafe(units, n, k))
        ++k;
    return std::min(k, n);
}

qsizetype previousSafeBoundary(QStringView text, qsizetype position)
{
    const char16_t *units = text.utf16();
    const qsizetype n = text.size();
    qsizetype k = std::min(position, n);
    while (k > 0 && !isSafe(units, n, k))
        --k;
    return std::max<qsizetype>(k, 0);
}

qint64 countClusters(QStringView text, qsizetype from, qsizetype to)
{
    // Whole runs of ASCII need no segmentation: every code unit is a Character, CR LF is one.
    // Checked in blocks, so that text with other characters gives up on it early.
    const char16_t *units = text.utf16();
    if (from >= to)
        return 0;
    constexpr qsizetype block = 512;
    qint64 crlf = 0;
    bool ascii = units[from] < 0x80;
    for (qsizetype b = from + 1; ascii && b < to; b += block) {
        const qsizetype end = std::min(to, b + block);
        unsigned high = 0;
        for (qsizetype k = b; k < end; ++k) {
            high |= units[k];
            crlf += (units[k] == u'\n') & (units[k - 1] == u'\r');
        }
        ascii = high < 0x80;
    }
    if (ascii)
        return (to - from) - crlf;

    qint64 count = 0;
    walk(units, text.size(), from, to, [&count](qsizetype) {
        ++count;
        return true;
    });
    return count;
}

void appendBoundaries(QStringView text, qsizetype from, qsizetype to,
                      std::vector<qsizetype> &boundaries)
{
    walk(text.utf16(), text.size(), from, to, [&boundaries](qsizetype b) {
        boundaries.push_back(b);
        return true;
    });
}

void visitBoundaries(QStringView text, qsizetype from, qsizetype to, BoundaryVisitor visit,
                     void *context)
{
    walk(text.utf16(), text.size(), from, to, [&](qsizetype b) {
        visit(context, b);
        return true;
    });
}

qsizetype clusterStart(QStringView text, qsizetype offset)
{
    offset = std::clamp<qsizetype>(offset, 0, text.size());
    const qsizetype from = previousSafeBoundary(text, offset);
    if (from == offset)
        return offset;
    qsizetype start = from;
    walk(text.utf16(), text.size(), from, nextSafeBoundary(text, offset), [&](qsizetype b) {
        if (b > offset)
            return false;
        start = b;
        return true;
    });
    return start;
}

qsizetype advance(QStringView text, qsizetype from, qsizetype to, qint64 count)
{
    qsizetype position = from;
    if (count <= 0)
        return position;
    walk(text.utf16(), text.size(), from, to, [&](qsizetype b) {
        position = b;
        return --count > 0;
    });
    return position;
}

bool sameCharacter(QStringView a, QStringView b)
{
    if (a == b)
        return true;
    auto ascii = [](QStringView s) {
        for (QChar c : s) {
            if (c.unicode() >= 0x80)
                return false;
        }
        return true;
    };
    // Two different ASCII spellings are never equivalent; one ASCII side can still match a
    // singleton decomposition such as the Kelvin sign.
    if (ascii(a) && ascii(b))
        return false;
    return canonicallyEquivalent(a, b);
}

} // namespace graphemes

#include "core/live/Graphemes.h"

#include <QChar>
#include <QTextBoundaryFinder>

#include <array>

namespace graphemes {

namespace {

bool inRange(char32_t c, char32_t first, char32_t last)
{
    return c >= first && c <= last;
}

// Characters that cling to whatever follows them.
bool isPrepend(char32_t c)
{
    if (c < 0x0600)
        return false;
    return inRange(c, 0x0600, 0x0605) || c == 0x06DD || c == 0x070F || inRange(c, 0x0890, 0x0891)
        || c == 0x08E2 || c == 0x0D4E || c == 0x110BD || c == 0x110CD
        || inRange(c, 0x111C2, 0x111C3) || c == 0x1193F || c == 0x11941 || c == 0x11A3A
        || inRange(c, 0x11A84, 0x11A89) || c == 0x11D46 || c == 0x11F02;
}

// Scripts whose runs Qt re-segments by syllables (measured on Qt 6.4: inside such a run even a
// CR LF pair or an emoji falls apart).
bool isResegmentedScript(QChar::Script script)
{
    return (script >= QChar::Script_Devanagari && script <= QChar::Script_Thai)
        || script == QChar::Script_Tibetan || script == QChar::Script_Myanmar
        || script == QChar::Script_Khmer;
}

bool isMark(QChar::Category category)
{
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing;
}

bool computeSimple(char16_t c)
{
    if (c < 0x80)
        return c != u'\r';
    if (inRange(c, 0xD800, 0xDFFF) || inRange(c, 0x1100, 0x11FF) || inRange(c, 0x2000, 0x2BFF)
        || inRange(c, 0xA960, 0xA97F) || inRange(c, 0xAC00, 0xD7FF))
        return false;
    switch (c) {
    case 0x00A9: // pictographic symbols outside the ranges above
    case 0x00AE:
    case 0x3030:
    case 0x303D:
    case 0x3297:
    case 0x3299:
    case 0x0D4E: // a prepended letter
    case 0x0E33: // letters that behave as spacing marks
    case 0x0EB3:
    case 0xFF9E: // modifier letters that extend
    case 0xFF9F:
        return false;
    default:
        break;
    }
    if (isResegmentedScript(QChar::script(char32_t(c))))
        return false;
    switch (QChar::category(char32_t(c))) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Symbol_Other:
        return false;
    default:
        return true;
    }
}

enum UnitFlag : quint8 {
    Simple = 1,
    // A letter that starts a script run of its own (not a neutral character that joins the run
    // before it) and is not re-segmented.
    PlainRunStart = 2,
    Resegmented = 4,
};

// The properties above for every UTF-16 code unit, looked up once: the walks ask for them at
// every position.
const std::array<quint8, 0x10000> &unitFlags()
{
    static const auto table = [] {
        std::array<quint8, 0x10000> flags {};
        for (char32_t c = 0; c < 0x10000; ++c) {
            const auto unit = char16_t(c);
            const QChar::Script script = QChar::script(c);
            quint8 f = computeSimple(unit) ? Simple : 0;
            if (isResegmentedScript(script))
                f |= Resegmented;
            else if (script > QChar::Script_Common && !inRange(c, 0xD800, 0xDFFF))
                f |= PlainRunStart;
            flags[c] = f;
        }
        return flags;
    }();
    return table;
}

bool has(char16_t c, UnitFlag flag)
{
    return unitFlags()[c] & flag;
}

char32_t codePointAt(const char16_t *units, qsizetype i, qsizetype to, qsizetype *size)
{
    if (QChar::isHighSurrogate(units[i]) && i + 1 < to && QChar::isLowSurrogate(units[i + 1])) {
        *size = 2;
        return QChar::surrogateToUcs4(units[i], units[i + 1]);
    }
    *size = 1;
    return units[i];
}

// The code point that ends just before `position`.
char32_t codePointBefore(const char16_t *units, qsizetype position)
{
    const char16_t low = units[position - 1];
    if (QChar::isLowSurrogate(low) && position >= 2 && QChar::isHighSurrogate(units[position - 2]))
        return QChar::surrogateToUcs4(units[position - 2], low);
    return low;
}

template<typename OnBoundary>
void appendFound(const char16_t *units, qsizetype from, qsizetype to, OnBoundary &onBoundary)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme,
                               reinterpret_cast<const QChar *>(units + from), to - from);
    for (qsizetype b = finder.toNextBoundary(); b > 0; b = finder.toNextBoundary())
        onBoundary(from + b);
}

// Whether [from, to) is one Character by GB9 alone: a base that is no control, followed only by
// marks, emoji modifiers or joiners. Holds outside re-segmented runs.
bool isBaseWithExtenders(const char16_t *units, qsizetype from, qsizetype to)
{
    qsizetype size = 0;
    const char32_t base = codePointAt(units, from, to, &size);
    switch (QChar::category(base)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        break;
    }
    for (qsizetype i = from + size; i < to; i += size) {
        const char32_t c = codePointAt(units, i, to, &size);
        if (!isMark(QChar::category(c)) && !inRange(c, 0x1F3FB, 0x1F3FF) && c != 0x200D)
            return false;
    }
    return true;
}

// Where a boundary lies whatever the context, in text without re-segmented runs: after a line
// break, before a line break, and before a simple character unless a prepended one precedes.
bool isPlainBoundary(const char16_t *units, qsizetype position)
{
    const char16_t a = units[position - 1];
    const char16_t b = units[position];
    if (a == u'\r')
        return b != u'\n';
    if (a == u'\n' || b == u'\r' || b == u'\n')
        return true;
    return has(b, Simple) && !isPrepend(codePointBefore(units, position));
}

bool isSafe(const char16_t *units, qsizetype size, qsizetype position)
{
    if (position <= 0 || position >= size)
        return true;
    const char16_t b = units[position];
    if ((unitFlags()[b] & (Simple | PlainRunStart)) != (Simple | PlainRunStart))
        return false;
    return !isPrepend(codePointBefore(units, position));
}

// Boundaries of a range between two neighbouring safe boundaries, exactly as the full
// segmentation finds them. Without a letter of a re-segmented script the range follows the
// Unicode rules alone, so it is cut further at boundaries that hold in any context and the common
// shapes are decided directly; the full segmentation only sees what remains (ZWJ sequences,
// flags, Hangul, …).
template<typename OnBoundary>
void segment(const char16_t *units, qsizetype from, qsizetype to, OnBoundary &onBoundary)
{
    if (to - from == 1) {
        onBoundary(to);
        return;
    }
    bool resegmented = false;
    for (qsizetype i = from, size = 1; i < to && !resegmented; i += size) {
        size = 1;
        if (units[i] >= 0x0900) {
            const char32_t c = codePointAt(units, i, to, &size);
            resegmented
                = size == 1 ? has(char16_t(c), Resegmented) : isResegmentedScript(QChar::script(c));
        }
    }
    if (resegmented) {
        // The base opens the run, so marks of any script stay with it.
        if (isSafe(units, to, from) && from > 0 && isBaseWithExtenders(units, from, to))
            onBoundary(to);
        else
            appendFound(units, from, to, onBoundary);
        return;
    }
    qsizetype p = from;
    while (p < to) {
        qsizetype q = p + 1;
        while (q < to && !isPlainBoundary(units, q))
            ++q;
        qsizetype size = 0;
        codePointAt(units, p, q, &size);
        if (q - p == size || (q - p == 2 && units[p] == u'\r') || isBaseWithExtenders(units, p, q))
            onBoundary(q);
        else
            appendFound(units, p, q, onBoundary);
        p = q;
    }
}

template<typename OnBoundary>
void walk(QStringView text, qsizetype from, qsizetype to, OnBoundary &&onBoundary)
{
    const char16_t *units = text.utf16();
    const qsizetype size = text.size();
    qsizetype i = from;
    while (i < to) {
        qsizetype k = i + 1;
        while (k < to && !isSafe(units, size, k))
            ++k;
        segment(units, i, k, onBoundary);
        i = k;
    }
}

} // namespace

bool isSimple(char16_t c)
{
    return has(c, Simple);
}

bool isSafeBoundary(QStringView text, qsizetype position)
{
    // Before a simple letter of a plain script: no rule joins it to what precedes (except a
    // prepended character), no rule looks back past it, and it ends any re-segmented run.
    return isSafe(text.utf16(), text.size(), position);
}

qsizetype nextSafeBoundary(QStringView text, qsizetype position)
{
    qsizetype k = std::max<qsizetype>(position, 0);
    while (k < text.size() && !isSafeBoundary(text, k))
        ++k;
    return std::min(k, text.size());
}

qint64 countClusters(QStringView text, qsizetype from, qsizetype to)
{
    // Whole runs of ASCII need no segmentation: every code unit is a Character, CR LF is one.
    const char16_t *units = text.utf16();
    char16_t high = 0;
    qint64 crlf = 0;
    for (qsizetype k = from; k < to; ++k) {
        high |= units[k];
        crlf += (units[k] == u'\n' && k > from && units[k - 1] == u'\r');
    }
    if (high < 0x80)
        return (to - from) - crlf;

    qint64 count = 0;
    walk(text, from, to, [&count](qsizetype) { ++count; });
    return count;
}

void appendBoundaries(QStringView text, qsizetype from, qsizetype to,
                      std::vector<qsizetype> &boundaries)
{
    walk(text, from, to, [&boundaries](qsizetype b) { boundaries.push_back(b); });
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
    return a.toString().normalized(QString::NormalizationForm_D)
        == b.toString().normalized(QString::NormalizationForm_D);
}

} // namespace graphemes

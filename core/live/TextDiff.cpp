#include "core/live/TextDiff.h"

#include "core/live/GraphemeIndex.h"
#include "core/live/LiveLog.h"
#include "core/live/PieceSequence.h"
#include "platform/Graphemes.h"

#include <cstring>
#include <limits>
#include <span>
#include <vector>

namespace {

constexpr qint64 int64Max = std::numeric_limits<qint64>::max();

qsizetype commonPrefix(const char16_t *a, const char16_t *b, qsizetype n)
{
    qsizetype i = 0;
    for (; i + 4 <= n; i += 4) {
        quint64 x, y;
        std::memcpy(&x, a + i, sizeof x);
        std::memcpy(&y, b + i, sizeof y);
        if (x != y)
            break;
    }
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

qsizetype commonSuffix(const char16_t *aEnd, const char16_t *bEnd, qsizetype n)
{
    qsizetype i = 0;
    for (; i + 4 <= n; i += 4) {
        quint64 x, y;
        std::memcpy(&x, aEnd - i - 4, sizeof x);
        std::memcpy(&y, bEnd - i - 4, sizeof y);
        if (x != y)
            break;
    }
    while (i < n && aEnd[-i - 1] == bEnd[-i - 1])
        ++i;
    return i;
}

// The changed stretch, widened to safe boundaries: [start, oldEnd) of the old text became
// [start, newEnd) of the new one, and everything outside is equal and segments alike.
struct Window
{
    qsizetype start;
    qsizetype oldEnd;
    qsizetype newEnd;
};

Window windowAround(QStringView a, QStringView b, qsizetype prefix, qsizetype suffix)
{
    qsizetype start = prefix;
    while (start > 0
           && !(graphemes::isSafeBoundary(a, start) && graphemes::isSafeBoundary(b, start)))
        --start;
    const qsizetype shift = b.size() - a.size();
    qsizetype end = a.size() - suffix;
    while (end < a.size()
           && !(graphemes::isSafeBoundary(a, end) && graphemes::isSafeBoundary(b, end + shift)))
        ++end;
    return {start, end, end + shift};
}

struct WindowDiff
{
    qint64 prefix = 0; // Characters kept at the window's start
    qint64 deleted = 0;
    qint64 inserted = 0;
    qsizetype insertFrom = 0; // UTF-16 range of the inserted Characters in the new text
    qsizetype insertTo = 0;
    qint64 oldClusters = 0; // Characters of each window
    qint64 newClusters = 0;
    bool needsWholeTail = false;
};

QStringView firstCharacter(QStringView text, qsizetype from)
{
    std::vector<qsizetype> bounds;
    graphemes::appendBoundaries(text, from, graphemes::nextSafeBoundary(text, from + 1), bounds);
    return text.sliced(from, bounds.front() - from);
}

WindowDiff diffWindow(QStringView a, QStringView b, const Window &w)
{
    std::vector<qsizetype> A {w.start};
    std::vector<qsizetype> B {w.start};
    graphemes::appendBoundaries(a, w.start, w.oldEnd, A);
    graphemes::appendBoundaries(b, w.start, w.newEnd, B);
    const qint64 na = qint64(A.size()) - 1;
    const qint64 nb = qint64(B.size()) - 1;
    auto charA = [&](qint64 i) { return a.sliced(A[i], A[i + 1] - A[i]); };
    auto charB = [&](qint64 i) { return b.sliced(B[i], B[i + 1] - B[i]); };

    WindowDiff d;
    d.oldClusters = na;
    d.newClusters = nb;
    const qint64 shorter = std::min(na, nb);
    while (d.prefix < shorter && graphemes::sameCharacter(charA(d.prefix), charB(d.prefix)))
        ++d.prefix;
    qint64 suffix = 0;
    while (suffix < shorter - d.prefix
           && graphemes::sameCharacter(charA(na - 1 - suffix), charB(nb - 1 - suffix)))
        ++suffix;

    // When the shorter window is used up, the prefix of the whole texts would go on into the
    // equal tail. With binary equality it stops at once; only a canonically equal Character
    // could carry it further, and then the window has to reach the end.
    if (d.prefix == shorter && na != nb && w.oldEnd < a.size()) {
        const bool oldShorter = na < nb;
        const QStringView tailFirst
            = oldShorter ? firstCharacter(a, w.oldEnd) : firstCharacter(b, w.newEnd);
        const QStringView other = oldShorter ? charB(d.prefix) : charA(d.prefix);
        d.needsWholeTail = graphemes::sameCharacter(tailFirst, other);
    }

    d.deleted = na - d.prefix - suffix;
    d.inserted = nb - d.prefix - suffix;
    d.insertFrom = B[d.prefix];
    d.insertTo = B[nb - suffix];
    return d;
}

// The index of `result`, which replaced `text` in [changeFrom, changeTo) of the old text.
void rememberResult(const std::shared_ptr<GraphemeIndex> &index, const QString &text,
                    const QString &result, qsizetype changeFrom, qsizetype changeTo)
{
    if (result.size() < 8192)
        return;
    const Window w = windowAround(text, result, changeFrom, text.size() - changeTo);
    const qint64 delta = graphemes::countClusters(result, w.start, w.newEnd)
        - graphemes::countClusters(text, w.start, w.oldEnd);
    GraphemeIndex::remember(index->derive(result, w.start, w.oldEnd, w.newEnd, delta));
}

std::optional<QString> refuse()
{
    qCWarning(lcLiveSync) << "LiveSync: edit dropped, an operation lies outside the text";
    return std::nullopt;
}

std::optional<QString> refuseTooLarge(qsizetype limit)
{
    qCWarning(lcLiveSync).noquote()
        << QStringLiteral("LiveSync: edit dropped, the document would exceed %1 code units")
               .arg(limit);
    return std::nullopt;
}

// Where Characters of a source start. Queries come sorted by Character index, so one walk over
// the source answers them all; stretches of plain ASCII (one code unit per Character) are
// answered by arithmetic.
struct OffsetQuery
{
    qint64 index;
    std::size_t slot;
};

bool oneUnitPerCharacter(QStringView text, qsizetype from, qsizetype to)
{
    char16_t any = 0;
    bool cr = false;
    for (qsizetype i = from; i < to; ++i) {
        any |= text[i].unicode();
        cr |= text[i] == u'\r';
    }
    return any < 0x80 && !cr;
}

void resolveOffsets(QStringView source, std::span<const OffsetQuery> queries,
                    std::vector<qsizetype> &offsets)
{
    constexpr qsizetype stretch = 4096;
    auto next = queries.begin();
    while (next != queries.end() && next->index == 0)
        offsets[(next++)->slot] = 0;
    qsizetype at = 0;
    qint64 count = 0;
    while (next != queries.end() && at < source.size()) {
        const qsizetype end = graphemes::nextSafeBoundary(source, at + stretch);
        if (oneUnitPerCharacter(source, at, end)) {
            const qint64 last = count + (end - at);
            for (; next != queries.end() && next->index <= last; ++next)
                offsets[next->slot] = at + qsizetype(next->index - count);
            count = last;
        } else {
            graphemes::forEachBoundary(source, at, end, [&](qsizetype boundary) {
                ++count;
                for (; next != queries.end() && next->index == count; ++next)
                    offsets[next->slot] = boundary;
            });
        }
        at = end;
    }
}

// Any list of operations, with the array semantics of the protocol: every operation counts the
// Characters left by the ones before it, inserted text is segmented on its own, and Characters
// that meet at a seam are never merged between operations. The operations move pieces of the
// texts around; Characters are only counted once per text and located in one walk at the end.
std::optional<QString> applyGeneral(const QList<EditOp> &ops, const QString &text,
                                    const EditLimits *limits)
{
    const bool strict = limits != nullptr;
    // Source 0 is the text, source k + 1 the text of operation k.
    auto source = [&](qsizetype s) -> QStringView { return s == 0 ? text : *ops[s - 1].text; };
    PieceSequence sequence(1 + 2 * std::size_t(ops.size()));
    sequence.insert(0, {0, 0, graphemes::countClusters(text)});
    for (qsizetype k = 0; k < ops.size(); ++k) {
        const EditOp &op = ops[k];
        const qint64 size = sequence.size();
        if (op.op == EditOpKind::Delete) {
            const qint64 n = op.len.value_or(0);
            if (op.pos >= 0 && n > 0 && op.pos <= size && n <= size - op.pos)
                sequence.erase(op.pos, n);
            else if (strict)
                return refuse();
            continue;
        }
        if (!op.text || op.text->isEmpty())
            continue;
        if (strict && (op.pos < 0 || op.pos > size))
            return refuse();
        sequence.insert(std::clamp<qint64>(op.pos, 0, size),
                        {k + 1, 0, graphemes::countClusters(*op.text)});
    }

    // Deletes and inserts never reorder what stays of a text, so each source's piece ends come
    // in ascending order already: grouping them by source keeps them sorted.
    const std::vector<PieceSequence::Piece> pieces = sequence.pieces();
    const std::size_t sources = std::size_t(ops.size()) + 1;
    std::vector<std::size_t> groupStart(sources + 1, 0);
    for (const PieceSequence::Piece &p : pieces)
        groupStart[std::size_t(p.source) + 1] += 2;
    for (std::size_t s = 0; s < sources; ++s)
        groupStart[s + 1] += groupStart[s];
    std::vector<OffsetQuery> queries(2 * pieces.size());
    {
        std::vector<std::size_t> fill(groupStart.begin(), groupStart.end() - 1);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            std::size_t &at = fill[std::size_t(pieces[i].source)];
            queries[at++] = {pieces[i].from, 2 * i};
            queries[at++] = {pieces[i].to, 2 * i + 1};
        }
    }
    std::vector<qsizetype> offsets(queries.size());
    for (std::size_t s = 0; s < sources; ++s) {
        if (groupStart[s] != groupStart[s + 1])
            resolveOffsets(source(qsizetype(s)),
                           std::span<const OffsetQuery>(queries).subspan(
                               groupStart[s], groupStart[s + 1] - groupStart[s]),
                           offsets);
    }

    qsizetype length = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        length += offsets[2 * i + 1] - offsets[2 * i];
    if (strict && length > limits->maxTextLength)
        return refuseTooLarge(limits->maxTextLength);
    QString result;
    result.reserve(length);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        result.append(
            source(pieces[i].source).sliced(offsets[2 * i], offsets[2 * i + 1] - offsets[2 * i]));
    return result;
}

// The shapes that diff produces (one delete, one insert, or a delete followed by an insert) map
// straight onto UTF-16 ranges of the original text, without building the array of Characters.
std::optional<QString> applyOps(const QList<EditOp> &ops, const QString &text,
                                const EditLimits *limits)
{
    const bool strict = limits != nullptr;
    if (strict && ops.size() > limits->maxOperations) {
        qCWarning(lcLiveSync).noquote()
            << QStringLiteral("LiveSync: edit dropped, %1 operations are more than %2")
                   .arg(ops.size())
                   .arg(limits->maxOperations);
        return std::nullopt;
    }
    if (strict) {
        // Before anything is segmented: text that no document may hold.
        qsizetype inserted = 0;
        for (const EditOp &op : ops) {
            if (op.text)
                inserted += op.text->size();
            if (inserted > limits->maxTextLength)
                return refuseTooLarge(limits->maxTextLength);
        }
    }
    if (ops.isEmpty())
        return text;
    const bool simpleShape = ops.size() == 1
        || (ops.size() == 2 && ops[0].op == EditOpKind::Delete && ops[1].op == EditOpKind::Insert);
    if (!simpleShape)
        return applyGeneral(ops, text, limits);

    auto index = GraphemeIndex::forText(text);
    std::optional<std::pair<qsizetype, qsizetype>> removed;
    qint64 deletedAt = 0;
    qint64 deletedCount = 0;
    qsizetype next = 0;
    if (ops[0].op == EditOpKind::Delete) {
        const EditOp &d = ops[0];
        const qint64 n = d.len.value_or(0);
        if (d.pos >= 0 && n > 0 && n <= int64Max - d.pos) {
            const auto from = index->offsetOfCluster(d.pos);
            const auto to = from ? index->offsetOfCluster(d.pos + n) : std::nullopt;
            if (from && to) {
                removed = std::make_pair(*from, *to);
                deletedAt = d.pos;
                deletedCount = n;
            }
        }
        if (!removed && strict)
            return refuse();
        next = 1;
    }

    std::optional<qsizetype> insertAt;
    QString inserted;
    if (next < ops.size()) {
        const EditOp &ins = ops[next];
        if (ins.text && !ins.text->isEmpty()) {
            if (strict && ins.pos < 0)
                return refuse();
            const qint64 position = std::max<qint64>(ins.pos, 0);
            // A position after the deleted run counts the Characters behind it.
            qint64 original = position;
            if (removed && position > deletedAt)
                original = position > int64Max - deletedCount ? int64Max : position + deletedCount;
            insertAt = index->offsetOfCluster(original);
            if (!insertAt) {
                if (strict)
                    return refuse();
                insertAt = text.size();
            }
            inserted = *ins.text;
        }
    }
    if (!removed && !insertAt)
        return text;
    const qsizetype length
        = text.size() + inserted.size() - (removed ? removed->second - removed->first : 0);
    if (strict && length > limits->maxTextLength)
        return refuseTooLarge(limits->maxTextLength);

    QString result;
    result.reserve(length);
    const QStringView view(text);
    qsizetype changeFrom = 0;
    qsizetype changeTo = 0;
    if (!insertAt) {
        const auto [lo, hi] = *removed;
        result.append(view.first(lo)).append(view.sliced(hi));
        changeFrom = lo;
        changeTo = hi;
    } else if (!removed) {
        result.append(view.first(*insertAt)).append(inserted).append(view.sliced(*insertAt));
        changeFrom = changeTo = *insertAt;
    } else {
        const auto [lo, hi] = *removed;
        const qsizetype at = *insertAt;
        if (at <= lo) {
            result.append(view.first(at)).append(inserted).append(view.sliced(at, lo - at));
            result.append(view.sliced(hi));
        } else {
            result.append(view.first(lo)).append(view.sliced(hi, at - hi)).append(inserted);
            result.append(view.sliced(at));
        }
        changeFrom = std::min(lo, at);
        changeTo = std::max(hi, at);
    }
    GraphemeIndex::remember(index);
    rememberResult(index, text, result, changeFrom, changeTo);
    return result;
}

} // namespace

QList<EditOp> TextDiff::diff(const QString &oldText, const QString &newText)
{
    const qsizetype la = oldText.size();
    const qsizetype lb = newText.size();
    if (la == lb && oldText == newText)
        return {};
    if (oldText.isEmpty())
        return {EditOp::insert(0, newText)};
    auto oldIndex = GraphemeIndex::forText(oldText);
    if (newText.isEmpty())
        return {EditOp::deletion(0, oldIndex->clusterCount())};

    const qsizetype shorter = std::min(la, lb);
    const char16_t *a = QStringView(oldText).utf16();
    const char16_t *b = QStringView(newText).utf16();
    const qsizetype prefix = commonPrefix(a, b, shorter);
    const qsizetype suffix = commonSuffix(a + la, b + lb, shorter - prefix);
    Window w = windowAround(oldText, newText, prefix, suffix);
    WindowDiff d = diffWindow(oldText, newText, w);
    if (d.needsWholeTail) {
        w.oldEnd = la;
        w.newEnd = lb;
        d = diffWindow(oldText, newText, w);
    }

    QList<EditOp> ops;
    if (d.deleted > 0 || d.inserted > 0) {
        const qint64 position = oldIndex->clustersBefore(w.start) + d.prefix;
        if (d.deleted > 0)
            ops.append(EditOp::deletion(position, d.deleted));
        if (d.inserted > 0)
            ops.append(
                EditOp::insert(position, newText.sliced(d.insertFrom, d.insertTo - d.insertFrom)));
    }
    // The new text is the old one of the next keystroke.
    GraphemeIndex::remember(oldIndex);
    GraphemeIndex::remember(
        oldIndex->derive(newText, w.start, w.oldEnd, w.newEnd, d.newClusters - d.oldClusters));
    return ops;
}

QString TextDiff::apply(const QList<EditOp> &ops, const QString &text)
{
    return *applyOps(ops, text, nullptr);
}

std::optional<QString> TextDiff::applyChecked(const QList<EditOp> &ops, const QString &text,
                                              const EditLimits &limits)
{
    return applyOps(ops, text, &limits);
}

qint64 TextDiff::characterCount(const QString &text)
{
    auto index = GraphemeIndex::forText(text);
    const qint64 count = index->clusterCount();
    GraphemeIndex::remember(index);
    return count;
}

std::optional<qsizetype> TextDiff::utf16Offset(const QString &text, qint64 index)
{
    auto graphemeIndex = GraphemeIndex::forText(text);
    const auto offset = graphemeIndex->offsetOfCluster(index);
    GraphemeIndex::remember(graphemeIndex);
    return offset;
}

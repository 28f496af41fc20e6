#include "Velto/editor/EditorTextMapping.h"

#include "platform/Graphemes.h"

#include <QHash>

#include <algorithm>
#include <optional>

namespace {

bool isMappedBreak(char16_t c)
{
    return c == u'\r' || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

bool isCrOrLf(char16_t c)
{
    return c == u'\r' || c == u'\n';
}

bool isLineBreak(char16_t c)
{
    return c == u'\n' || isMappedBreak(c);
}

// Lengths of the common prefix and suffix of two texts; together never longer than the shorter.
std::pair<qsizetype, qsizetype> commonAffixes(QStringView a, QStringView b)
{
    const qsizetype limit = std::min(a.size(), b.size());
    qsizetype prefix = 0;
    while (prefix < limit && a[prefix] == b[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < limit - prefix && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;
    return {prefix, suffix};
}

} // namespace

QString EditorTextMapping::Entry::workspaceForm() const
{
    if (pair)
        return QStringLiteral("\r\n");
    if (soft())
        return {};
    return QString(QChar(form));
}

void EditorTextMapping::splitPoints(QStringView text, qsizetype start, qsizetype end,
                                    qsizetype pieceLength, std::vector<qsizetype> &points)
{
    // Pieces end only between Characters: inside one they would show its parts apart, and a cut
    // surrogate pair leaves lone halves in the document. A piece ends after a space in its second
    // half where there is one (where word wrapping could end it), else at the last Character
    // boundary in that half; where that half holds none (a long run of marks or joined emoji),
    // the piece runs on to the next boundary. One walk over the line keeps this linear however
    // long its Characters are.
    const QStringView line = text.mid(start, end - start);
    const qsizetype length = line.size();
    if (length <= pieceLength)
        return;
    const char16_t *data = line.utf16();
    qsizetype piece = 0;
    std::vector<qsizetype> pending; // boundaries after `piece` not yet past
    graphemes::forEachBoundary(line, 0, length, [&](qsizetype boundary) {
        pending.push_back(boundary);
        while (length - piece > pieceLength && boundary > piece + pieceLength) {
            const qsizetype target = piece + pieceLength;
            const qsizetype half = piece + pieceLength / 2;
            qsizetype cut = -1;
            qsizetype lastInHalf = -1;
            for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
                const qsizetype at = *it;
                if (at > target)
                    continue;
                if (at <= half)
                    break;
                if (lastInHalf < 0)
                    lastInHalf = at;
                if (data[at - 1] == u' ' || data[at - 1] == u'\t') {
                    cut = at;
                    break;
                }
            }
            if (cut < 0)
                cut = lastInHalf;
            if (cut < 0)
                cut = *std::find_if(pending.begin(), pending.end(),
                                    [target](qsizetype at) { return at > target; });
            if (cut >= length) {
                piece = length;
                break;
            }
            points.push_back(start + cut);
            piece = cut;
            pending.erase(pending.begin(), std::upper_bound(pending.begin(), pending.end(), cut));
        }
    });
}

QString EditorTextMapping::scan(QStringView text, qint64 workspaceBase, qint64 editorBase,
                                std::vector<Entry> *entries, qsizetype splitLength,
                                qsizetype pieceLength)
{
    QString out; // built once the copy differs from the text
    bool differs = false;
    auto begin = [&] {
        if (!differs) {
            differs = true;
            out.reserve(text.size() + text.size() / std::max<qsizetype>(pieceLength, 1) + 16);
        }
    };
    const char16_t *data = text.utf16();
    const qsizetype n = text.size();
    qsizetype copied = 0; // text before this offset is in `out`
    qsizetype lineStart = 0;
    std::vector<qsizetype> points;
    for (qsizetype i = 0; i <= n; ++i) {
        const char16_t c = i < n ? data[i] : u'\n';
        const bool mapped = i < n && isMappedBreak(c);
        if (c != u'\n' && !mapped)
            continue;
        if (i - lineStart > splitLength) {
            points.clear();
            splitPoints(text, lineStart, i, pieceLength, points);
            begin();
            for (const qsizetype at : points) {
                out.append(text.mid(copied, at - copied));
                copied = at;
                Entry entry;
                entry.workspace = workspaceBase + at;
                entry.editor = editorBase + out.size();
                if (entries)
                    entries->push_back(entry);
                out.append(u'\n');
            }
        }
        lineStart = i + 1;
        if (!mapped)
            continue;
        begin();
        out.append(text.mid(copied, i - copied));
        Entry entry;
        entry.workspace = workspaceBase + i;
        entry.editor = editorBase + out.size();
        entry.form = c;
        entry.pair = c == u'\r' && i + 1 < n && data[i + 1] == u'\n';
        if (entries)
            entries->push_back(entry);
        out.append(u'\n');
        if (entry.pair)
            ++i;
        copied = lineStart = i + 1;
    }
    if (!differs)
        return text.toString();
    out.append(text.mid(copied));
    return out;
}

QString EditorTextMapping::editorCopy(const QString &workspaceText)
{
    return scan(workspaceText, 0, 0, nullptr, defaultSplitLength, defaultPieceLength);
}

std::vector<qint64> EditorTextMapping::softBreaks() const
{
    std::vector<qint64> offsets;
    if (m_softCount == 0)
        return offsets; // asked on every keystroke: a long CR LF text has many entries
    offsets.reserve(size_t(m_softCount));
    for (const Entry &e : m_entries) {
        if (e.soft())
            offsets.push_back(e.editor);
    }
    return offsets;
}

EditorTextMapping::Joined EditorTextMapping::joinSoftBreaks(QStringView editorText,
                                                            const std::vector<qint64> &softBreaks)
{
    Joined joined;
    joined.text.reserve(editorText.size());
    joined.splits.reserve(softBreaks.size());
    qsizetype copied = 0;
    qsizetype line = 0;
    qsizetype lineStart = 0; // in the joined text
    for (const qint64 at : softBreaks) {
        const QStringView piece = editorText.mid(copied, at - copied);
        const qsizetype lastFeed = piece.lastIndexOf(u'\n');
        if (lastFeed >= 0) {
            line += piece.count(u'\n');
            lineStart = joined.text.size() + lastFeed + 1;
        }
        joined.text.append(piece);
        joined.splits.push_back({line, joined.text.size() - lineStart});
        copied = at + 1;
    }
    joined.text.append(editorText.mid(copied));
    return joined;
}

QString EditorTextMapping::reset(const QString &workspaceText)
{
    std::vector<Entry> entries;
    const QString copy = scan(workspaceText, 0, 0, &entries);
    m_entries = std::move(entries);
    m_softCount = std::count_if(m_entries.begin(), m_entries.end(),
                                [](const Entry &e) { return e.soft(); });
    replaceEntries(0, 0, 0, 0, {});

    m_lineBreak = QStringLiteral("\n");
    for (qsizetype i = 0; i < workspaceText.size(); ++i) {
        const QChar c = workspaceText.at(i);
        if (c == u'\n')
            break;
        if (c == u'\r') {
            const bool pair = i + 1 < workspaceText.size() && workspaceText.at(i + 1) == u'\n';
            m_lineBreak = pair ? QStringLiteral("\r\n") : QStringLiteral("\r");
            break;
        }
    }
    return copy;
}

std::size_t EditorTextMapping::lowerBoundWorkspace(qint64 offset) const
{
    return std::partition_point(m_entries.begin(), m_entries.end(),
                                [offset](const Entry &e) { return e.workspace < offset; })
        - m_entries.begin();
}

bool EditorTextMapping::hasSoftBreak(qint64 workspaceFrom, qint64 workspaceTo) const
{
    if (m_softCount == 0)
        return false;
    for (std::size_t i = lowerBoundWorkspace(workspaceFrom);
         i < m_entries.size() && m_entries[i].workspace <= workspaceTo; ++i) {
        if (m_entries[i].soft())
            return true;
    }
    return false;
}

std::size_t EditorTextMapping::lowerBoundEditor(qint64 offset) const
{
    return std::partition_point(m_entries.begin(), m_entries.end(),
                                [offset](const Entry &e) { return e.editor < offset; })
        - m_entries.begin();
}

qint64 EditorTextMapping::toWorkspace(qint64 editorOffset) const
{
    const std::size_t i = lowerBoundEditor(editorOffset);
    return editorOffset + (i == 0 ? 0 : m_entries[i - 1].shiftThrough);
}

qint64 EditorTextMapping::toEditor(qint64 workspaceOffset) const
{
    const std::size_t i = lowerBoundWorkspace(workspaceOffset);
    return workspaceOffset - (i == 0 ? 0 : m_entries[i - 1].shiftThrough);
}

void EditorTextMapping::replaceEntries(std::size_t first, std::size_t last, qint64 workspaceShift,
                                       qint64 editorShift, std::vector<Entry> inserted)
{
    const auto at = [this](std::size_t i) { return m_entries.begin() + std::ptrdiff_t(i); };
    const auto isSoft = [](const Entry &e) { return e.soft(); };
    m_softCount += std::count_if(inserted.begin(), inserted.end(), isSoft)
        - std::count_if(at(first), at(last), isSoft);
    m_entries.erase(at(first), at(last));
    if (workspaceShift != 0 || editorShift != 0) {
        for (std::size_t i = first; i < m_entries.size(); ++i) {
            m_entries[i].workspace += workspaceShift;
            m_entries[i].editor += editorShift;
        }
    }
    m_entries.insert(at(first), inserted.begin(), inserted.end());
    qint64 shift = first == 0 ? 0 : m_entries[first - 1].shiftThrough;
    for (std::size_t i = first; i < m_entries.size(); ++i) {
        shift += m_entries[i].shift();
        m_entries[i].shiftThrough = shift;
    }
}

EditorTextMapping::Edit
EditorTextMapping::mirrorEditorEdit(qint64 position, const QString &removedText,
                                    const QString &insertedText, QChar following,
                                    const std::vector<qsizetype> &softInserted)
{
    return mirrorEditorEdit(position, removedText, insertedText,
                            following.isNull() ? QStringView() : QStringView(&following, 1),
                            softInserted);
}

EditorTextMapping::Edit
EditorTextMapping::mirrorEditorEdit(qint64 position, const QString &removedText,
                                    const QString &insertedText, QStringView following,
                                    const std::vector<qsizetype> &softInserted)
{
    const auto affixes = commonAffixes(removedText, insertedText);
    qsizetype prefix = affixes.first;
    qsizetype suffix = affixes.second;
    // Text common to both sides is left alone, but never across a soft break: on the other side
    // the same LF may be a real one.
    if (m_softCount > 0 || !softInserted.empty()) {
        const qint64 removedEnd = position + removedText.size();
        for (std::size_t i = lowerBoundEditor(position);
             i < m_entries.size() && m_entries[i].editor < removedEnd; ++i) {
            if (!m_entries[i].soft())
                continue;
            const qsizetype at = m_entries[i].editor - position;
            prefix = std::min(prefix, at);
            suffix = std::min(suffix, removedText.size() - at - 1);
        }
        for (const qsizetype at : softInserted) {
            prefix = std::min(prefix, at);
            suffix = std::min(suffix, insertedText.size() - at - 1);
        }
    }
    const QStringView removed
        = QStringView(removedText).mid(prefix, removedText.size() - prefix - suffix);
    const QStringView inserted
        = QStringView(insertedText).mid(prefix, insertedText.size() - prefix - suffix);
    const qint64 start = position + prefix;
    const qint64 end = start + removed.size();

    const qint64 workspaceStart = toWorkspace(start);
    if (removed.isEmpty() && inserted.isEmpty())
        return {workspaceStart, 0, {}, {}};
    const qint64 workspaceEnd = toWorkspace(end);

    const std::size_t first = lowerBoundEditor(start);
    const std::size_t last = lowerBoundEditor(end);

    // The workspace form of every real line break of the replaced text, in order.
    std::vector<QString> oldForms;
    std::size_t entry = first;
    for (qsizetype k = 0; k < removed.size(); ++k) {
        if (removed[k] != u'\n')
            continue;
        if (entry < last && m_entries[entry].editor == start + k) {
            if (!m_entries[entry].soft())
                oldForms.push_back(m_entries[entry].workspaceForm());
            ++entry;
        } else {
            oldForms.push_back(QStringLiteral("\n"));
        }
    }
    auto isSoftInserted = [&softInserted, prefix](qsizetype k) {
        return std::find(softInserted.begin(), softInserted.end(), k + prefix)
            != softInserted.end();
    };
    const qsizetype softCount
        = std::count_if(softInserted.begin(), softInserted.end(), [&](qsizetype at) {
              return at >= prefix && at < prefix + inserted.size();
          });
    const bool keepForms = qsizetype(oldForms.size()) == inserted.count(u'\n') - softCount;

    QString workspaceText;
    workspaceText.reserve(inserted.size());
    std::vector<Entry> added;
    std::size_t breakIndex = 0;
    qsizetype chunkStart = 0;
    for (qsizetype k = 0; k < inserted.size(); ++k) {
        if (inserted[k] != u'\n')
            continue;
        workspaceText.append(inserted.mid(chunkStart, k - chunkStart));
        chunkStart = k + 1;
        if (softCount > 0 && isSoftInserted(k)) {
            Entry e;
            e.workspace = workspaceStart + workspaceText.size();
            e.editor = start + k;
            added.push_back(e);
            continue;
        }
        QString form = keepForms ? oldForms[breakIndex++] : m_lineBreak;
        // A kept LF right after a kept lone CR would pair with it: it is written as a lone CR.
        if (form == u"\n" && !workspaceText.isEmpty() && workspaceText.back() == u'\r') {
            auto hard = std::find_if(added.rbegin(), added.rend(),
                                     [](const Entry &e) { return !e.soft(); });
            if (hard != added.rend() && !hard->pair
                && hard->workspace == workspaceStart + workspaceText.size() - 1)
                form = QStringLiteral("\r");
        }
        if (form != u"\n") {
            Entry e;
            e.workspace = workspaceStart + workspaceText.size();
            e.editor = start + k;
            e.form = form.at(0).unicode();
            e.pair = form.size() == 2;
            added.push_back(e);
        }
        workspaceText.append(form);
    }
    workspaceText.append(inserted.mid(chunkStart));

    // A lone CR directly followed by an LF would make one CR LF pair of two line breaks the
    // editor shows. The line break written next to a lone CR therefore takes a form that does not
    // pair with its neighbours; an edit that only brings the two together makes the CR a pair
    // and keeps the LF.
    std::size_t firstReplaced = first;
    // Soft breaks between it and the edit stand for nothing in the workspace text.
    std::size_t crAfter = first;
    while (crAfter > 0 && m_entries[crAfter - 1].soft()
           && m_entries[crAfter - 1].workspace == workspaceStart)
        --crAfter;
    const bool loneCrBefore = crAfter > 0 && m_entries[crAfter - 1].workspace == workspaceStart - 1
        && m_entries[crAfter - 1].form == u'\r' && !m_entries[crAfter - 1].pair;
    // Text common to both sides stays, so what follows the edit may be the first of it; soft
    // breaks after the edit stand for nothing, so the workspace's next character comes after them.
    const auto charAfter = [&](qsizetype k) {
        if (k < suffix)
            return removedText.at(removedText.size() - suffix + k);
        k -= suffix;
        return k < following.size() ? following[k] : QChar();
    };
    std::size_t nextEntry = last;
    qsizetype skipped = 0;
    while (nextEntry < m_entries.size() && m_entries[nextEntry].soft()
           && m_entries[nextEntry].editor == end + skipped) {
        ++nextEntry;
        ++skipped;
    }
    const bool lfAfter = charAfter(skipped) == u'\n'
        && !(nextEntry < m_entries.size() && m_entries[nextEntry].editor == end + skipped);
    if (workspaceText.isEmpty() && loneCrBefore && lfAfter) {
        Entry pair = m_entries[crAfter - 1];
        pair.pair = true;
        // Soft breaks between the CR and the edit, and those typed, come after the pair's new LF.
        std::vector<Entry> between(m_entries.begin() + std::ptrdiff_t(crAfter),
                                   m_entries.begin() + std::ptrdiff_t(first));
        between.insert(between.end(), added.begin(), added.end());
        for (Entry &e : between)
            e.workspace += 1;
        added = std::move(between);
        added.insert(added.begin(), pair);
        firstReplaced = crAfter - 1;
        workspaceText = QStringLiteral("\n");
    } else if (!workspaceText.isEmpty()) {
        const bool lfFirst = loneCrBefore && workspaceText.front() == u'\n';
        const bool crLast = lfAfter && workspaceText.back() == u'\r' && !added.empty()
            && !added.back().pair
            && added.back().workspace == workspaceStart + workspaceText.size() - 1;
        const qsizetype size = workspaceText.size();
        if (lfFirst) {
            // Written as a lone CR too, or as a CR LF pair when an LF follows it directly.
            const bool pair = size > 1 ? workspaceText.at(1) == u'\n' : lfAfter;
            workspaceText.replace(0, 1, pair ? QStringLiteral("\r\n") : QStringLiteral("\r"));
            // Soft breaks may come before that line break in the editor.
            std::size_t leadingSoft = 0;
            while (leadingSoft < added.size() && added[leadingSoft].soft()
                   && added[leadingSoft].editor == start + qint64(leadingSoft))
                ++leadingSoft;
            for (std::size_t i = leadingSoft; i < added.size(); ++i)
                added[i].workspace += pair ? 1 : 0;
            Entry e;
            e.workspace = workspaceStart;
            e.editor = start + qint64(leadingSoft);
            e.form = u'\r';
            e.pair = pair;
            added.insert(added.begin() + std::ptrdiff_t(leadingSoft), e);
        }
        if (crLast) {
            // Written as an LF, or as a CR LF pair when a lone CR precedes it directly.
            const qsizetype n = workspaceText.size();
            const bool crBefore = n > 1 ? workspaceText.at(n - 2) == u'\r' : loneCrBefore;
            if (crBefore) {
                added.back().pair = true;
                workspaceText.append(u'\n');
            } else {
                added.pop_back();
                workspaceText.back() = u'\n';
            }
        }
    }

    replaceEntries(firstReplaced, last, workspaceText.size() - (workspaceEnd - workspaceStart),
                   inserted.size() - removed.size(), std::move(added));
    return {workspaceStart, workspaceEnd - workspaceStart, workspaceText, {}};
}

namespace {

// A changed region: [oldStart, oldEnd) of the old text became [newStart, newEnd) of the new one.
struct Hunk
{
    qsizetype oldStart;
    qsizetype oldEnd;
    qsizetype newStart;
    qsizetype newEnd;
};

// Starts of the lines of a text region (a line runs up to and including its LF), plus its end.
std::vector<qsizetype> lineStarts(QStringView text)
{
    std::vector<qsizetype> starts {0};
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && i + 1 < text.size())
            starts.push_back(i + 1);
    }
    starts.push_back(text.size());
    return starts;
}

// The changed line ranges between two texts by Myers' difference algorithm over lines. None when
// they differ in more than maxChanges lines; the caller then treats the whole as one change.
std::optional<std::vector<Hunk>> changedLines(QStringView a, QStringView b, int maxChanges)
{
    const std::vector<qsizetype> aStarts = lineStarts(a);
    const std::vector<qsizetype> bStarts = lineStarts(b);
    const int n = int(aStarts.size()) - 1;
    const int m = int(bStarts.size()) - 1;
    auto line = [](QStringView t, const std::vector<qsizetype> &starts, int i) {
        return t.mid(starts[size_t(i)], starts[size_t(i) + 1] - starts[size_t(i)]);
    };
    std::vector<size_t> aHash(static_cast<size_t>(n));
    std::vector<size_t> bHash(static_cast<size_t>(m));
    for (int i = 0; i < n; ++i)
        aHash[size_t(i)] = qHash(line(a, aStarts, i));
    for (int i = 0; i < m; ++i)
        bHash[size_t(i)] = qHash(line(b, bStarts, i));
    auto same = [&](int x, int y) {
        return aHash[size_t(x)] == bHash[size_t(y)] && line(a, aStarts, x) == line(b, bStarts, y);
    };

    const int limit = std::min(n + m, maxChanges);
    const int offset = limit + 1;
    std::vector<int> v(size_t(2 * limit + 3), 0);
    std::vector<std::vector<int>> trace; // v before each round, for walking back
    for (int d = 0; d <= limit; ++d) {
        trace.push_back(v);
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[size_t(offset + k - 1)] < v[size_t(offset + k + 1)]))
                ? v[size_t(offset + k + 1)]
                : v[size_t(offset + k - 1)] + 1;
            int y = x - k;
            while (x < n && y < m && same(x, y)) {
                ++x;
                ++y;
            }
            v[size_t(offset + k)] = x;
            if (x < n || y < m)
                continue;

            // Walk back collecting the matched line pairs.
            std::vector<std::pair<int, int>> matches;
            for (int e = d; e > 0; --e) {
                const std::vector<int> &before = trace[size_t(e)];
                const int kk = x - y;
                const bool down = kk == -e
                    || (kk != e
                        && before[size_t(offset + kk - 1)] < before[size_t(offset + kk + 1)]);
                const int previousK = down ? kk + 1 : kk - 1;
                const int previousX = before[size_t(offset + previousK)];
                const int previousY = previousX - previousK;
                while (x > previousX && y > previousY)
                    matches.emplace_back(--x, --y);
                x = previousX;
                y = previousY;
            }
            while (x > 0 && y > 0)
                matches.emplace_back(--x, --y);
            std::reverse(matches.begin(), matches.end());
            matches.emplace_back(n, m);

            std::vector<Hunk> hunks;
            int ai = 0;
            int bi = 0;
            for (const auto &[ma, mb] : matches) {
                if (ma > ai || mb > bi)
                    hunks.push_back({aStarts[size_t(ai)], aStarts[size_t(ma)], bStarts[size_t(bi)],
                                     bStarts[size_t(mb)]});
                ai = ma + 1;
                bi = mb + 1;
            }
            return hunks;
        }
    }
    return std::nullopt;
}

} // namespace

std::vector<EditorTextMapping::Edit> EditorTextMapping::applyWorkspaceChange(const QString &oldText,
                                                                             const QString &newText)
{
    const auto [prefix, suffix] = commonAffixes(oldText, newText);
    const qsizetype oldMiddleEnd = oldText.size() - suffix;
    const qsizetype newMiddleEnd = newText.size() - suffix;
    if (prefix == oldMiddleEnd && prefix == newMiddleEnd)
        return {};

    // Changes far apart (several edits in one message, a full text from another device) become
    // separate replacements, so a caret between them stays where it is.
    const QStringView oldMiddle = QStringView(oldText).mid(prefix, oldMiddleEnd - prefix);
    const QStringView newMiddle = QStringView(newText).mid(prefix, newMiddleEnd - prefix);
    std::vector<Hunk> hunks;
    if (const auto lines = changedLines(oldMiddle, newMiddle, 500)) {
        for (Hunk h : *lines) {
            h = {h.oldStart + prefix, h.oldEnd + prefix, h.newStart + prefix, h.newEnd + prefix};
            const auto [p, q]
                = commonAffixes(QStringView(oldText).mid(h.oldStart, h.oldEnd - h.oldStart),
                                QStringView(newText).mid(h.newStart, h.newEnd - h.newStart));
            hunks.push_back({h.oldStart + p, h.oldEnd - q, h.newStart + p, h.newEnd - q});
        }
    } else {
        hunks.push_back({prefix, oldMiddleEnd, prefix, newMiddleEnd});
    }

    // Whether a CR pairs with an LF depends on its neighbour, so a region never starts or ends
    // next to one: it takes in the CRs and LFs around it (they are the same in both texts).
    // Regions that meet that way become one.
    std::vector<Hunk> regions;
    for (std::size_t i = 0; i < hunks.size(); ++i) {
        Hunk h = hunks[i];
        const qsizetype low = i > 0 ? hunks[i - 1].oldEnd : 0;
        const qsizetype high = i + 1 < hunks.size() ? hunks[i + 1].oldStart : oldText.size();
        // A long line, or one the editor split before, is split again whole, as opening the new
        // text would split it: a soft break kept from the old line could land anywhere in the new
        // one (next to a lone CR, where it would change what a later edit there means).
        qsizetype lineStart = h.oldStart;
        while (lineStart > 0 && !isLineBreak(oldText.at(lineStart - 1).unicode()))
            --lineStart;
        qsizetype lineEnd = h.oldEnd;
        while (lineEnd < oldText.size() && !isLineBreak(oldText.at(lineEnd).unicode()))
            ++lineEnd;
        const qsizetype newLength
            = lineEnd - lineStart + (h.newEnd - h.newStart) - (h.oldEnd - h.oldStart);
        if (lineEnd - lineStart > m_splitLength || newLength > m_splitLength
            || hasSoftBreak(lineStart, lineEnd)) {
            const qsizetype through = std::min(lineEnd + 1, oldText.size()); // its line break
            h.newStart -= h.oldStart - lineStart;
            h.oldStart = lineStart;
            h.newEnd += through - h.oldEnd;
            h.oldEnd = through;
        }
        while (h.oldStart > low && isCrOrLf(oldText.at(h.oldStart - 1).unicode())) {
            --h.oldStart;
            --h.newStart;
        }
        while (h.oldEnd < high && isCrOrLf(oldText.at(h.oldEnd).unicode())) {
            ++h.oldEnd;
            ++h.newEnd;
        }
        if (!regions.empty() && h.oldStart <= regions.back().oldEnd) {
            regions.back().oldEnd = h.oldEnd;
            regions.back().newEnd = h.newEnd;
        } else {
            regions.push_back(h);
        }
    }

    // From the last region to the first: offsets before a region are still those of the old text.
    std::vector<Edit> edits;
    for (auto it = regions.rbegin(); it != regions.rend(); ++it) {
        Edit edit = replaceRegion(
            it->oldStart, QStringView(oldText).mid(it->oldStart, it->oldEnd - it->oldStart),
            QStringView(newText).mid(it->newStart, it->newEnd - it->newStart));
        if (!edit.isEmpty())
            edits.push_back(std::move(edit));
    }
    return edits;
}

EditorTextMapping::Edit EditorTextMapping::replaceRegion(qint64 start, QStringView oldRegion,
                                                         QStringView newRegion)
{
    const qint64 oldEnd = start + oldRegion.size();
    const qint64 editorStart = toEditor(start);
    const qint64 editorEnd = toEditor(oldEnd);
    const std::size_t first = lowerBoundWorkspace(start);
    const std::size_t last = lowerBoundWorkspace(oldEnd);

    // The copy's text of the region as it is now (by the entries: a CR before an LF that the user
    // typed is still a line break of its own), and as it will be.
    QString oldSegment;
    oldSegment.reserve(editorEnd - editorStart);
    std::vector<qsizetype> softBefore; // offsets in oldSegment
    std::size_t entry = first;
    for (qint64 i = 0; i < oldRegion.size(); ++i) {
        // A soft break stands before the character at its offset.
        while (entry < last && m_entries[entry].soft() && m_entries[entry].workspace == start + i) {
            softBefore.push_back(oldSegment.size());
            oldSegment.append(u'\n');
            ++entry;
        }
        if (entry < last && m_entries[entry].workspace == start + i) {
            oldSegment.append(u'\n');
            if (m_entries[entry++].pair)
                ++i;
        } else {
            oldSegment.append(oldRegion[i]);
        }
    }
    std::vector<Entry> added;
    const QString newSegment = scan(newRegion, start, editorStart, &added);
    std::vector<qsizetype> softInSegment;
    for (const Entry &e : added) {
        if (e.soft())
            softInSegment.push_back(e.editor - editorStart);
    }
    replaceEntries(first, last, newRegion.size() - oldRegion.size(),
                   newSegment.size() - (editorEnd - editorStart), std::move(added));

    // Only the units that really differ are replaced, so carets next to the change stay put.
    // A line feed is common text only where it is soft on both sides or on neither: the editor
    // keeps the mark of a break it keeps.
    auto [segPrefix, segSuffix] = commonAffixes(oldSegment, newSegment);
    if (!softBefore.empty() || !softInSegment.empty()) {
        const auto isIn = [](const std::vector<qsizetype> &offsets, qsizetype at) {
            return std::binary_search(offsets.begin(), offsets.end(), at);
        };
        for (qsizetype k = 0; k < segPrefix; ++k) {
            if (oldSegment[k] == u'\n' && isIn(softBefore, k) != isIn(softInSegment, k)) {
                segPrefix = k;
                break;
            }
        }
        for (qsizetype k = 0; k < segSuffix; ++k) {
            const qsizetype oldAt = oldSegment.size() - 1 - k;
            if (oldSegment[oldAt] == u'\n'
                && isIn(softBefore, oldAt) != isIn(softInSegment, newSegment.size() - 1 - k)) {
                segSuffix = k;
                break;
            }
        }
    }
    Edit edit {editorStart + segPrefix,
               oldSegment.size() - segPrefix - segSuffix,
               newSegment.mid(segPrefix, newSegment.size() - segPrefix - segSuffix),
               {}};
    for (const qsizetype at : softInSegment) {
        if (at >= segPrefix && at < newSegment.size() - segSuffix)
            edit.softBreaks.push_back(at - segPrefix);
    }
    return edit;
}

QString EditorTextMapping::workspaceTextFor(QStringView editorText) const
{
    QString out;
    out.reserve(editorText.size() + qsizetype(m_entries.size()));
    qsizetype chunkStart = 0;
    for (const Entry &e : m_entries) {
        if (e.editor >= editorText.size())
            break;
        out.append(editorText.mid(chunkStart, e.editor - chunkStart));
        out.append(e.workspaceForm());
        chunkStart = e.editor + 1;
    }
    out.append(editorText.mid(chunkStart));
    return out;
}

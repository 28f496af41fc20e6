#include "core/live/LiveDocument.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr quint16 headSite = 0xFFFF;
// What a peer may make this device hold: beyond it a change or state is refused (a document
// this size no longer fits into one frame anyway).
constexpr qsizetype maxItems = qsizetype(64) * 1024 * 1024;
// Changes that wait for what they build on; beyond this the oldest go (a full state makes up for
// them).
constexpr std::size_t maxWaiting = 4096;

QString hashOf(const QByteArray &bytes)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(32));
}

std::optional<quint32> unsigned32(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (d < 0 || d > double(std::numeric_limits<quint32>::max()) || d != double(qint64(d)))
        return std::nullopt;
    return quint32(qint64(d));
}

// The changed stretch of `text` against `base`: [start, end) of base becomes `inserted`.
struct Stretch
{
    qsizetype start = 0;
    qsizetype end = 0;
    QString inserted;
};

Stretch stretchBetween(const QString &base, const QString &text)
{
    const qsizetype shorter = std::min(base.size(), text.size());
    qsizetype prefix = 0;
    while (prefix < shorter && base[prefix] == text[prefix])
        ++prefix;
    // Never between the halves of a surrogate pair.
    if (prefix > 0 && base[prefix - 1].isHighSurrogate())
        --prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix
           && base[base.size() - 1 - suffix] == text[text.size() - 1 - suffix])
        ++suffix;
    if (suffix > 0 && base[base.size() - suffix].isLowSurrogate())
        --suffix;
    Stretch s {prefix, base.size() - suffix, text.mid(prefix, text.size() - suffix - prefix)};
    // A pure insertion or deletion next to equal characters could sit at several places (typing
    // "[b] " before "[a] " also reads as "b] [" typed after the first "["). The characters it
    // names decide what later concurrent changes meet, so it goes where a word starts when one
    // of the places does: a token typed or deleted as a whole stays whole.
    const bool inserts = s.start == s.end;
    if (inserts == s.inserted.isEmpty())
        return s;
    auto atWordStart = [&](qsizetype at) { return at == 0 || base[at - 1].isSpace(); };
    Stretch candidate = s;
    for (int step = 0; step < 4096 && !atWordStart(candidate.start) && candidate.start > 0;
         ++step) {
        const QChar before = base[candidate.start - 1];
        if (inserts) {
            if (before != candidate.inserted.back())
                break;
            candidate.inserted = before + candidate.inserted.chopped(1);
            --candidate.end;
        } else {
            if (before != base[candidate.end - 1])
                break;
            --candidate.end;
        }
        --candidate.start;
        if (atWordStart(candidate.start) && !base[candidate.start].isLowSurrogate())
            return candidate;
    }
    return s;
}

// The words of a text, each with the white space after it.
std::vector<QStringView> wordsOf(QStringView text)
{
    std::vector<QStringView> words;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        while (end < text.size() && text[end].isSpace())
            ++end;
        words.push_back(text.mid(start, end - start));
        start = end;
    }
    return words;
}

// Where two texts differ, as stretches of `base` in order. Words are compared first (a shortest
// edit script, Myers), so two changes far apart stay two small stretches instead of one that
// rewrites everything between them, and a word typed or deleted as a whole stays whole; inside a
// changed run of words, characters are compared. Very different texts fall back to one stretch.
std::vector<Stretch> stretchesBetween(const QString &base, const QString &text)
{
    const Stretch whole = stretchBetween(base, text);
    const bool pure = whole.start == whole.end || whole.inserted.isEmpty();
    if (pure && (whole.start == 0 || base[whole.start - 1].isSpace()))
        return {whole};
    // From the start of the word the difference begins in to the end of the word it ends in.
    qsizetype from = whole.start;
    while (from > 0 && !base[from - 1].isSpace())
        --from;
    qsizetype to = whole.end;
    while (to < base.size() && !base[to].isSpace())
        ++to;
    while (to < base.size() && base[to].isSpace())
        ++to;
    const qsizetype toText = text.size() - (base.size() - to);
    const std::vector<QStringView> a = wordsOf(QStringView(base).mid(from, to - from));
    const std::vector<QStringView> b = wordsOf(QStringView(text).mid(from, toText - from));
    const int n = int(a.size());
    const int m = int(b.size());
    constexpr int maxEdits = 256;
    const int limit = std::min(maxEdits, n + m);
    const int offset = limit + 1;
    std::vector<int> v(std::size_t(2 * limit + 3), 0);
    std::vector<std::vector<int>> trace;
    int found = -1;
    for (int d = 0; d <= limit && found < 0; ++d) {
        trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d
                     || (k != d && v[std::size_t(offset + k - 1)] < v[std::size_t(offset + k + 1)]))
                ? v[std::size_t(offset + k + 1)]
                : v[std::size_t(offset + k - 1)] + 1;
            int y = x - k;
            while (x < n && y < m && a[std::size_t(x)] == b[std::size_t(y)]) {
                ++x;
                ++y;
            }
            v[std::size_t(offset + k)] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0)
        return {whole};
    // Back from the end: which words of a go, which of b come.
    std::vector<char> gone(std::size_t(n), 0);
    std::vector<char> come(std::size_t(m), 0);
    int x = n;
    int y = m;
    for (int d = found; d > 0; --d) {
        const std::vector<int> &prev = trace[std::size_t(d)];
        auto at = [&](int k) { return prev[std::size_t(k + d)]; };
        const int k = x - y;
        const int prevK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
        const int prevX = at(prevK);
        const int prevY = prevX - prevK;
        while (x > prevX && y > prevY) {
            --x;
            --y;
        }
        if (x == prevX)
            come[std::size_t(prevY)] = 1;
        else
            gone[std::size_t(prevX)] = 1;
        x = prevX;
        y = prevY;
    }
    // Each run of changed words: its characters compared.
    std::vector<Stretch> stretches;
    qsizetype atA = from;
    int i = 0;
    int j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && !gone[std::size_t(i)] && !come[std::size_t(j)]) {
            atA += a[std::size_t(i)].size();
            ++i;
            ++j;
            continue;
        }
        const qsizetype start = atA;
        QString oldWords;
        QString newWords;
        while (i < n && gone[std::size_t(i)]) {
            oldWords += a[std::size_t(i)];
            atA += a[std::size_t(i++)].size();
        }
        while (j < m && come[std::size_t(j)])
            newWords += b[std::size_t(j++)];
        // Typing or deleting inside words names just those characters; a replacement takes the
        // words whole, so no character of a word that went is kept as part of one that came.
        Stretch s = stretchBetween(oldWords, newWords);
        if (s.start != s.end && !s.inserted.isEmpty())
            s = {0, oldWords.size(), newWords};
        s.start += start;
        s.end += start;
        if (s.start != s.end || !s.inserted.isEmpty())
            stretches.push_back(s);
    }
    return stretches.empty() ? std::vector<Stretch> {whole} : stretches;
}
} // namespace

LiveDocument::LiveDocument(const QString &site, const QString &baseText)
    : m_epoch(hashOf(baseText.toUtf8()))
    , m_common(baseText)
    , m_sites {QString(), site}
    , m_text(baseText)
{
    m_items.reserve(std::size_t(baseText.size()));
    for (qsizetype i = 0; i < baseText.size(); ++i) {
        Item item;
        item.seq = quint32(i + 1);
        item.originSite = i == 0 ? headSite : 0;
        item.originSeq = quint32(i);
        item.ch = baseText[i].unicode();
        m_items.push_back(item);
    }
}

std::optional<LiveDocument> LiveDocument::fromState(const QString &site, const QJsonObject &state,
                                                    const QString &text)
{
    LiveDocument document;
    document.m_sites = {QString(), site};
    document.m_epoch = epochOf(state);
    if (document.m_epoch.isEmpty())
        return std::nullopt;
    if (document.merge(state, text).outcome != Outcome::Applied)
        return std::nullopt;
    document.m_common = document.m_text;
    return document;
}

QString LiveDocument::epochOf(const QJsonObject &changeOrState)
{
    return changeOrState.value("epoch"_L1).toString();
}

qint64 LiveDocument::weight() const
{
    qint64 weight = 0;
    for (const Item &item : m_items)
        weight += (item.site != 0) + item.deleted;
    return weight;
}

quint16 LiveDocument::siteIndex(const QString &name)
{
    const qsizetype index = m_sites.indexOf(name);
    if (index >= 0)
        return quint16(index);
    m_sites.append(name);
    return quint16(m_sites.size() - 1);
}

std::optional<quint16> LiveDocument::knownSite(const QString &name) const
{
    const qsizetype index = m_sites.indexOf(name);
    if (index < 0)
        return std::nullopt;
    return quint16(index);
}

qsizetype LiveDocument::indexOf(quint16 site, quint32 seq) const
{
    for (qsizetype i = 0; i < qsizetype(m_items.size()); ++i) {
        const Item &item = m_items[std::size_t(i)];
        if (item.seq == seq && item.site == site)
            return i;
    }
    return -1;
}

bool LiveDocument::goesFirst(const Item &existing, quint32 ts, quint16 site) const
{
    if (existing.ts != ts)
        return existing.ts > ts;
    return m_sites.at(existing.site) > m_sites.at(site);
}

// Right after its origin, behind every later-typed unit there (and everything typed after those):
// the place every device finds for it, whatever it has seen of the others.
qsizetype LiveDocument::integrate(qsizetype originIndex, const Item &item)
{
    auto pos = std::size_t(originIndex + 1);
    while (pos < m_items.size() && goesFirst(m_items[pos], item.ts, item.site))
        ++pos;
    m_items.insert(m_items.begin() + qsizetype(pos), item);
    return qsizetype(pos);
}

std::optional<QJsonObject> LiveDocument::change(const QString &newText)
{
    if (newText == m_text)
        return std::nullopt;
    const std::vector<Stretch> stretches = stretchesBetween(m_text, newText);
    QJsonObject change {{"epoch"_L1, m_epoch}, {"site"_L1, site()}};
    QJsonArray deleted;
    QJsonArray inserts;
    // From the last stretch to the first: the offsets of the ones before stay as they were.
    for (auto it = stretches.crbegin(); it != stretches.crend(); ++it) {
        const Stretch &s = *it;
        // The units shown at [start, end) go; the insert then follows the unit shown before.
        qsizetype visible = 0;
        qsizetype origin = -1;
        std::optional<Run> run;
        auto closeRun = [&] {
            if (run)
                deleted.append(
                    QJsonArray {m_sites.at(run->site), qint64(run->seq), qint64(run->count)});
            run.reset();
        };
        for (qsizetype i = 0; i < qsizetype(m_items.size()) && visible < s.end; ++i) {
            Item &item = m_items[std::size_t(i)];
            if (item.deleted)
                continue;
            if (visible < s.start) {
                origin = i;
            } else {
                item.deleted = true;
                if (run && run->site == item.site && run->seq + run->count == item.seq) {
                    ++run->count;
                } else {
                    closeRun();
                    run = Run {item.site, item.seq, 1};
                }
            }
            ++visible;
        }
        closeRun();
        if (s.inserted.isEmpty())
            continue;
        // Later than anything known here: nothing is skipped, it lands right after its origin.
        Item item;
        item.ts = ++m_clock;
        item.site = 1;
        item.originSite = origin < 0 ? headSite : m_items[std::size_t(origin)].site;
        item.originSeq = origin < 0 ? 0 : m_items[std::size_t(origin)].seq;
        QJsonObject insert {
            {"ts"_L1, qint64(item.ts)}, {"seq"_L1, qint64(m_nextSeq)}, {"text"_L1, s.inserted}};
        if (origin >= 0)
            insert.insert("after"_L1,
                          QJsonArray {m_sites.at(item.originSite), qint64(item.originSeq)});
        inserts.append(insert);
        qsizetype at = origin;
        for (const QChar c : s.inserted) {
            item.seq = m_nextSeq++;
            item.ch = c.unicode();
            m_items.insert(m_items.begin() + (++at), item);
            item.originSite = item.site;
            item.originSeq = item.seq;
        }
    }
    if (!deleted.isEmpty())
        change.insert("del"_L1, deleted);
    if (!inserts.isEmpty())
        change.insert("ins"_L1, inserts);
    m_text = newText;
    return change;
}

LiveDocument::Outcome LiveDocument::receive(const QJsonObject &change)
{
    if (epochOf(change) != m_epoch)
        return Outcome::Foreign;
    const Outcome outcome = apply(change);
    if (outcome == Outcome::Waiting) {
        if (m_waiting.size() >= maxWaiting)
            m_waiting.erase(m_waiting.begin());
        m_waiting.push_back(change);
    } else if (outcome == Outcome::Applied) {
        applyWaiting();
    }
    return outcome;
}

LiveDocument::Outcome LiveDocument::apply(const QJsonObject &change)
{
    // Deletions: every unit named must be known.
    std::vector<Run> runs;
    qint64 total = 0;
    for (const QJsonValue &value : change.value("del"_L1).toArray()) {
        const QJsonArray entry = value.toArray();
        const auto seq = unsigned32(entry.at(1));
        const auto count = unsigned32(entry.at(2));
        if (entry.size() != 3 || !entry.at(0).isString() || !seq || !count || *count == 0
            || (total += *count) > maxItems)
            return Outcome::Invalid;
        const auto site = knownSite(entry.at(0).toString());
        if (!site)
            return Outcome::Waiting;
        runs.push_back({*site, *seq, *count});
    }
    auto inRun = [&](const Item &item) {
        return std::any_of(runs.cbegin(), runs.cend(), [&](const Run &r) {
            return item.site == r.site && item.seq >= r.seq && item.seq - r.seq < r.count;
        });
    };
    if (total > 0) {
        qint64 found = 0;
        for (const Item &item : m_items)
            found += inRun(item);
        if (found < total)
            return Outcome::Waiting;
    }

    // The insertions: their origins must be known; one already here is not inserted twice.
    struct Insert
    {
        quint32 ts;
        quint32 seq;
        QString text;
        std::optional<std::pair<QString, quint32>> after;
    };
    std::vector<Insert> inserts;
    const QString site = change.value("site"_L1).toString();
    for (const QJsonValue &value : change.value("ins"_L1).toArray()) {
        const QJsonObject o = value.toObject();
        const auto ts = unsigned32(o.value("ts"_L1));
        const auto seq = unsigned32(o.value("seq"_L1));
        const QString text = o.value("text"_L1).toString();
        if (!ts || !seq || *ts == 0 || site.isEmpty() || text.isEmpty()
            || quint64(*seq) + quint64(text.size()) > std::numeric_limits<quint32>::max()
            || (total += text.size()) > maxItems)
            return Outcome::Invalid;
        Insert insert {*ts, *seq, text, std::nullopt};
        if (o.contains("after"_L1)) {
            const QJsonArray after = o.value("after"_L1).toArray();
            const auto originSeq = unsigned32(after.at(1));
            if (after.size() != 2 || !after.at(0).isString() || !originSeq)
                return Outcome::Invalid;
            insert.after = std::pair {after.at(0).toString(), *originSeq};
        }
        const auto known = knownSite(site);
        if (known && indexOf(*known, *seq) >= 0)
            continue; // here already
        if (insert.after) {
            const auto originSite = knownSite(insert.after->first);
            if (!originSite || indexOf(*originSite, insert.after->second) < 0)
                return Outcome::Waiting;
        }
        inserts.push_back(insert);
    }
    if (qsizetype(m_items.size()) + total > maxItems)
        return Outcome::Invalid;

    // Marks first: the offsets removed from the text are counted before anything moves.
    if (total > 0) {
        qsizetype visible = 0;
        QList<std::pair<qsizetype, qsizetype>> removed; // offset, length; ascending
        for (Item &item : m_items) {
            if (item.deleted)
                continue;
            if (inRun(item)) {
                item.deleted = true;
                if (!removed.isEmpty() && removed.back().first + removed.back().second == visible)
                    ++removed.back().second;
                else
                    removed.append({visible, 1});
            }
            ++visible;
        }
        for (auto it = removed.crbegin(); it != removed.crend(); ++it)
            m_text.remove(it->first, it->second);
    }
    for (const Insert &insert : inserts) {
        Item item;
        item.ts = insert.ts;
        item.site = siteIndex(site);
        item.seq = insert.seq;
        qsizetype originIndex = -1;
        if (insert.after) {
            item.originSite = siteIndex(insert.after->first);
            item.originSeq = insert.after->second;
            originIndex = indexOf(item.originSite, item.originSeq);
        } else {
            item.originSite = headSite;
        }
        item.ch = insert.text[0].unicode();
        qsizetype at = integrate(originIndex, item);
        for (qsizetype i = 1; i < insert.text.size(); ++i) {
            item.originSite = item.site;
            item.originSeq = item.seq;
            ++item.seq;
            item.ch = insert.text[i].unicode();
            m_items.insert(m_items.begin() + ++at, item);
        }
        const qsizetype first = at - insert.text.size() + 1;
        qsizetype offset = 0;
        for (qsizetype i = 0; i < first; ++i)
            offset += !m_items[std::size_t(i)].deleted;
        m_text.insert(offset, insert.text);
        m_clock = std::max(m_clock, insert.ts);
    }
    return Outcome::Applied;
}

void LiveDocument::applyWaiting()
{
    bool progress = true;
    while (progress && !m_waiting.empty()) {
        progress = false;
        for (std::size_t i = 0; i < m_waiting.size();) {
            const Outcome outcome = apply(m_waiting[i]);
            if (outcome == Outcome::Waiting) {
                ++i;
                continue;
            }
            m_waiting.erase(m_waiting.begin() + qsizetype(i));
            progress = progress || outcome == Outcome::Applied;
        }
    }
}

QJsonArray LiveDocument::runs() const
{
    // [site, seq, count, ts, origin site (null: the start), origin seq, deleted]; a run continues
    // while each unit follows the one before it, typed together.
    QJsonArray runs;
    std::size_t i = 0;
    while (i < m_items.size()) {
        const Item &first = m_items[i];
        std::size_t j = i + 1;
        while (j < m_items.size()) {
            const Item &prev = m_items[j - 1];
            const Item &next = m_items[j];
            if (next.site != first.site || next.ts != first.ts || next.deleted != first.deleted
                || next.seq != prev.seq + 1 || next.originSite != prev.site
                || next.originSeq != prev.seq)
                break;
            ++j;
        }
        runs.append(QJsonArray {
            m_sites.at(first.site), qint64(first.seq), qint64(j - i), qint64(first.ts),
            first.originSite == headSite ? QJsonValue() : QJsonValue(m_sites.at(first.originSite)),
            qint64(first.originSeq), first.deleted ? 1 : 0});
        i = j;
    }
    return runs;
}

QJsonObject LiveDocument::state() const
{
    return {{"epoch"_L1, m_epoch}, {"runs"_L1, runs()}};
}

QString LiveDocument::digest() const
{
    return hashOf(QJsonDocument(state()).toJson(QJsonDocument::Compact));
}

LiveDocument::MergeResult LiveDocument::merge(const QJsonObject &state, const QString &text)
{
    if (epochOf(state) != m_epoch)
        return {Outcome::Foreign};
    const QJsonArray theirRuns = state.value("runs"_L1).toArray();
    // The common case (a reconnect, a repair that crossed the change it was about): the same.
    if (text == m_text && theirRuns == runs())
        return {Outcome::Applied, false};

    // Their runs, in their order, with where their text shows each one.
    struct Theirs
    {
        Item first; // the run's first unit
        quint32 count;
        qsizetype textAt; // -1 for deleted units
    };
    std::vector<Theirs> theirs;
    theirs.reserve(std::size_t(theirRuns.size()));
    qsizetype shown = 0;
    qint64 units = 0;
    auto refuse = [] { return MergeResult {Outcome::Invalid}; };
    for (const QJsonValue &value : theirRuns) {
        const QJsonArray r = value.toArray();
        const auto seq = unsigned32(r.at(1));
        const auto count = unsigned32(r.at(2));
        const auto ts = unsigned32(r.at(3));
        const auto originSeq = unsigned32(r.at(5));
        if (r.size() != 7 || !r.at(0).isString() || !seq || !count || *count == 0 || !ts
            || !originSeq || !(r.at(4).isString() || r.at(4).isNull())
            || quint64(*seq) + *count > std::numeric_limits<quint32>::max()
            || (units += *count) > maxItems || m_sites.size() >= headSite)
            return refuse();
        Theirs t;
        t.first.site = siteIndex(r.at(0).toString());
        t.first.seq = *seq;
        t.first.ts = *ts;
        t.first.originSite = r.at(4).isNull() ? headSite : siteIndex(r.at(4).toString());
        t.first.originSeq = *originSeq;
        t.first.deleted = r.at(6).toInt() != 0;
        t.count = *count;
        t.textAt = t.first.deleted ? -1 : shown;
        if (!t.first.deleted)
            shown += *count;
        theirs.push_back(t);
    }
    if (shown != text.size())
        return refuse();

    // Both sides as sorted stretches of numbers per session: what is held, what is deleted.
    struct Span
    {
        quint32 seq;
        quint32 count;
        bool deleted;
    };
    auto find = [](const std::vector<Span> &spans, quint32 seq) -> const Span * {
        auto it = std::upper_bound(spans.cbegin(), spans.cend(), seq,
                                   [](quint32 s, const Span &span) { return s < span.seq; });
        if (it == spans.cbegin())
            return nullptr;
        --it;
        return seq - it->seq < it->count ? &*it : nullptr;
    };
    QHash<quint16, std::vector<Span>> ours;
    for (const Item &item : m_items) {
        std::vector<Span> &spans = ours[item.site];
        if (!spans.empty() && spans.back().seq + spans.back().count == item.seq
            && spans.back().deleted == item.deleted)
            ++spans.back().count;
        else
            spans.push_back({item.seq, 1, item.deleted});
    }
    QHash<quint16, std::vector<Span>> theirSpans;
    for (const Theirs &t : theirs)
        theirSpans[t.first.site].push_back({t.first.seq, t.count, t.first.deleted});
    for (auto it = ours.begin(); it != ours.end(); ++it)
        std::sort(it->begin(), it->end(),
                  [](const Span &x, const Span &y) { return x.seq < y.seq; });
    for (auto it = theirSpans.begin(); it != theirSpans.end(); ++it)
        std::sort(it->begin(), it->end(),
                  [](const Span &x, const Span &y) { return x.seq < y.seq; });

    // Units only they have, each after its origin (which comes before it in their order). A run
    // is typed at once, so it is held here whole or not at all.
    bool changed = false;
    for (const Theirs &t : theirs) {
        const auto spans = ours.constFind(t.first.site);
        if (spans != ours.cend() && find(*spans, t.first.seq))
            continue;
        qsizetype origin = -1;
        if (t.first.originSite != headSite) {
            origin = indexOf(t.first.originSite, t.first.originSeq);
            if (origin < 0)
                return refuse(); // a state whose units do not follow their origins
        }
        Item item = t.first;
        item.deleted = false;
        for (quint32 k = 0; k < t.count; ++k) {
            item.ch = t.textAt < 0 ? char16_t(0) : text[t.textAt + k].unicode();
            origin = k == 0 ? integrate(origin, item) : origin + 1;
            if (k > 0)
                m_items.insert(m_items.begin() + origin, item);
            item.originSite = item.site;
            item.originSeq = item.seq;
            ++item.seq;
        }
        m_clock = std::max(m_clock, t.first.ts);
        changed = true;
    }

    // Marks: a unit deleted on either side is deleted. Anything held here that they lack, or
    // hold undeleted, makes their state the poorer one.
    bool theyLack = false;
    for (Item &item : m_items) {
        const auto spans = theirSpans.constFind(item.site);
        const Span *span = spans == theirSpans.cend() ? nullptr : find(*spans, item.seq);
        if (!span) {
            theyLack = true;
        } else if (span->deleted && !item.deleted) {
            item.deleted = true;
            changed = true;
        } else if (!span->deleted && item.deleted) {
            theyLack = true;
        }
    }
    if (changed)
        rebuildText();
    applyWaiting();
    return {Outcome::Applied, theyLack};
}

void LiveDocument::rebuildText()
{
    QString text;
    text.reserve(m_text.size());
    for (const Item &item : m_items) {
        if (!item.deleted)
            text.append(QChar(item.ch));
    }
    m_text = text;
}

QString LiveDocument::mergeTexts(const QString &base, const QString &first, const QString &second)
{
    Stretch a = stretchBetween(base, first);
    Stretch b = stretchBetween(base, second);
    if (a.start == a.end && a.inserted.isEmpty())
        return second;
    if (b.start == b.end && b.inserted.isEmpty())
        return first;
    const bool swapped = b.start < a.start || (b.start == a.start && b.end < a.end);
    const Stretch &lo = swapped ? b : a;
    const Stretch &hi = swapped ? a : b;
    if (lo.end <= hi.start && !(lo.start == hi.start && lo.end == hi.end))
        return base.left(lo.start) + lo.inserted + base.mid(lo.end, hi.start - lo.end) + hi.inserted
            + base.mid(hi.end);
    // Overlapping: what either removed goes, what either wrote stays.
    const qsizetype start = std::min(a.start, b.start);
    const qsizetype end = std::max(a.end, b.end);
    const QString inserted = a.inserted == b.inserted ? a.inserted : a.inserted + b.inserted;
    return base.left(start) + inserted + base.mid(end);
}

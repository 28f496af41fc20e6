#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The open document as the devices of a live session share it. Every UTF-16 unit ever inserted
// keeps a name of its own (the editing session that typed it and a number), the unit it was typed
// after and a Lamport time; deleted units stay behind as marks. Changes name the units they act
// on instead of positions, so they apply on any device, in any order, as often as they arrive,
// and every device that has seen the same changes holds the same text: units typed after the
// same unit at the same time are ordered by time, then by session name, alike everywhere. A
// change that names a unit not known here waits until what it builds on has arrived.
//
// Devices that start from the same text are in the same epoch (a hash of that text) and can
// exchange changes and whole states; a whole state merges with the one held here, so a device
// that missed changes gets them from anyone who has them, and nothing either side held is lost.
class LiveDocument
{
public:
    enum class Outcome {
        Applied, // part of the document now (or was already)
        Waiting, // names units not known here yet
        Foreign, // from another epoch
        Invalid,
    };

    struct MergeResult
    {
        Outcome outcome = Outcome::Invalid;
        // The sender's state lacks something held here.
        bool theyLack = false;
    };

    // `site` names this editing session; it must be unique among the session's devices.
    LiveDocument(const QString &site, const QString &baseText);
    // The document a state describes (with the text it reads); nothing when they do not fit.
    static std::optional<LiveDocument> fromState(const QString &site, const QJsonObject &state,
                                                 const QString &text);

    const QString &text() const { return m_text; }
    const QString &epoch() const { return m_epoch; }
    const QString &site() const { return m_sites.at(1); }
    // The last text this device knows another device held too: the start of the epoch, or the
    // text of the state it was built from.
    const QString &commonText() const { return m_common; }
    // Units inserted or deleted since the epoch began.
    qint64 weight() const;
    bool hasWaiting() const { return !m_waiting.empty(); }
    static QString epochOf(const QJsonObject &changeOrState);

    // The text reads `newText` now: the change, named, for the peers; nothing when the text is
    // the same.
    std::optional<QJsonObject> change(const QString &newText);
    // A change from a peer.
    Outcome receive(const QJsonObject &change);

    // Everything held here (the text travels beside it).
    QJsonObject state() const;
    MergeResult merge(const QJsonObject &state, const QString &text);
    // Equal on two devices exactly when they hold the same units with the same marks.
    QString digest() const;

    // Both changes made to `base` at once: each side's changed stretch (trimmed by common start
    // and end) applied; where the stretches overlap, everything either deleted goes and both
    // insertions stay, `first`'s before `second`'s (once when they insert the same).
    static QString mergeTexts(const QString &base, const QString &first, const QString &second);

private:
    struct Item
    {
        quint32 seq = 0;
        quint32 originSeq = 0;
        quint32 ts = 0;
        quint16 site = 0;
        quint16 originSite = 0;
        char16_t ch = 0;
        bool deleted = false;
    };
    struct Run
    {
        quint16 site;
        quint32 seq;
        quint32 count;
    };

    LiveDocument() = default;
    quint16 siteIndex(const QString &name);
    std::optional<quint16> knownSite(const QString &name) const;
    qsizetype indexOf(quint16 site, quint32 seq) const;
    // Items ordered before a new one with this time and session stay before it.
    bool goesFirst(const Item &existing, quint32 ts, quint16 site) const;
    qsizetype integrate(qsizetype originIndex, const Item &item);
    Outcome apply(const QJsonObject &change);
    void applyWaiting();
    void rebuildText();
    QJsonArray runs() const;

    QString m_epoch;
    QString m_common;
    QStringList m_sites; // 0: the base text, 1: this session
    std::vector<Item> m_items;
    QString m_text;
    quint32 m_clock = 0;
    quint32 m_nextSeq = 1;
    std::vector<QJsonObject> m_waiting;
};

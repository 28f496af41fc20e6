#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// One file or folder the user opened, as the history keeps it. The date is held as seconds since
// 2001-01-01 00:00:00 UTC, the unit of the stored form, so a decode/encode round trip is exact.
struct HistoryEntry
{
    HistoryEntry() = default;
    HistoryEntry(QUuid id, QString path, bool isDirectory, QByteArray bookmarkData,
                 double lastOpenedDate);

    QUuid id;
    QString path; // file system path, percent-decoded, no trailing slash
    bool isDirectory = false;
    QByteArray bookmarkData;
    double lastOpenedDate = 0; // seconds since 2001-01-01 00:00:00 UTC

    // The last path component ("/" for the root).
    QString name() const;

    QDateTime lastOpenedDateTime() const;
    static double referenceSeconds(const QDateTime &dateTime);

    QJsonObject toJson() const;
    // Fails unless all five keys are present with the right types; other keys are ignored.
    static std::optional<HistoryEntry> fromJson(const QJsonObject &object);

    // The stored list: a compact JSON array. Decoding fails as a whole when one element fails.
    static QByteArray encodeList(const QList<HistoryEntry> &entries);
    static std::optional<QList<HistoryEntry>> decodeList(const QByteArray &json);

    friend bool operator==(const HistoryEntry &a, const HistoryEntry &b);
    friend bool operator!=(const HistoryEntry &a, const HistoryEntry &b) { return !(a == b); }
};

size_t qHash(const HistoryEntry &entry, size_t seed = 0);

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMutex>
#include <QString>

#include <optional>

// The user-defaults store: typed values in one JSON file, written through atomically on every
// change. JSON keeps strings, numbers and Booleans apart across restarts; byte blobs and dates are
// stored as tagged objects ({"$data": base64}, {"$date": seconds since 2001-01-01 UTC}).
// The getters follow the classic user-defaults conversions (a numeric string reads as a number,
// "YES" reads as true, a missing key reads as 0/false).
class Defaults
{
public:
    // Opens (or later creates) the store at filePath. The folder is made 0700, the file 0600.
    explicit Defaults(QString filePath);

    // Where the application's store lies: under the XDG config folder.
    static QString standardPath();

    QString filePath() const { return m_path; }

    bool contains(const QString &key) const;
    std::optional<QJsonValue> object(const QString &key) const;
    std::optional<QString> string(const QString &key) const;
    bool boolValue(const QString &key) const;
    qint64 integer(const QString &key) const;
    double doubleValue(const QString &key) const;
    std::optional<QByteArray> data(const QString &key) const;
    std::optional<QDateTime> date(const QString &key) const;
    std::optional<QJsonObject> dictionary(const QString &key) const;
    std::optional<QJsonArray> array(const QString &key) const;

    // Stores the value and writes the file. An undefined/null value removes the key.
    void set(const QString &key, const QJsonValue &value);
    void setData(const QString &key, const QByteArray &bytes);
    void setDate(const QString &key, const QDateTime &date);
    void remove(const QString &key);

    // Groups several changes into one write of the file: while a Batch lives, sets only change
    // the values in memory; the file is written once when the outermost Batch ends.
    class Batch
    {
    public:
        explicit Batch(Defaults &defaults);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        Defaults &m_defaults;
    };

    // Whether the last write reached the disk.
    bool lastWriteSucceeded() const;

    // Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
    static constexpr double referenceDateOffset = 978307200.0;

private:
    void load();
    bool writeLocked();

    QString m_path;
    mutable QMutex m_mutex;
    QJsonObject m_values;
    bool m_lastWriteOk = true;
    int m_batchDepth = 0;
    bool m_dirty = false;
};

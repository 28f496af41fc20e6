#include "core/model/HistoryEntry.h"

#include "platform/Defaults.h"
#include "platform/Text.h"

#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace {

const QString idKey = QStringLiteral("id");
const QString pathKey = QStringLiteral("path");
const QString isDirectoryKey = QStringLiteral("isDirectory");
const QString bookmarkDataKey = QStringLiteral("bookmarkData");
const QString lastOpenedDateKey = QStringLiteral("lastOpenedDate");

std::optional<QUuid> parseUuid(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    const QString s = value.toString();
    // Only the bare 8-4-4-4-12 form; QUuid would also take braces.
    if (s.size() != 36 || s.startsWith(u'{'))
        return std::nullopt;
    const QUuid id = QUuid::fromString(s);
    if (id.isNull() && s != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

std::optional<QByteArray> parseBase64(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                  QByteArray::Base64Encoding
                                                      | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

} // namespace

HistoryEntry::HistoryEntry(QUuid id_, QString path_, bool isDirectory_, QByteArray bookmarkData_,
                           double lastOpenedDate_)
    : id(id_)
    , path(std::move(path_))
    , isDirectory(isDirectory_)
    , bookmarkData(std::move(bookmarkData_))
    , lastOpenedDate(lastOpenedDate_)
{
}

QString HistoryEntry::name() const
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    if (p == QStringLiteral("/"))
        return p;
    return p.mid(p.lastIndexOf(u'/') + 1);
}

QDateTime HistoryEntry::lastOpenedDateTime() const
{
    const double ms = std::round((lastOpenedDate + Defaults::referenceDateOffset) * 1000.0);
    // A stored date far outside any calendar (the file is user-editable) has no date-time; the
    // grouping files it under the last seven days, as for a difference it cannot compute.
    if (!(std::fabs(ms) < 9.0e18))
        return {};
    return QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC).toLocalTime();
}

double HistoryEntry::referenceSeconds(const QDateTime &dateTime)
{
    return double(dateTime.toMSecsSinceEpoch()) / 1000.0 - Defaults::referenceDateOffset;
}

QJsonObject HistoryEntry::toJson() const
{
    return QJsonObject {
        {idKey, id.toString(QUuid::WithoutBraces).toUpper()},
        {pathKey, path},
        {isDirectoryKey, isDirectory},
        {bookmarkDataKey, QString::fromLatin1(bookmarkData.toBase64())},
        {lastOpenedDateKey, lastOpenedDate},
    };
}

std::optional<HistoryEntry> HistoryEntry::fromJson(const QJsonObject &object)
{
    const auto id = parseUuid(object.value(idKey));
    const QJsonValue path = object.value(pathKey);
    const QJsonValue isDirectory = object.value(isDirectoryKey);
    const auto bookmark = parseBase64(object.value(bookmarkDataKey));
    const QJsonValue date = object.value(lastOpenedDateKey);
    if (!id || !path.isString() || !isDirectory.isBool() || !bookmark || !date.isDouble()
        || !std::isfinite(date.toDouble()))
        return std::nullopt;
    return HistoryEntry(*id, path.toString(), isDirectory.toBool(), *bookmark, date.toDouble());
}

QByteArray HistoryEntry::encodeList(const QList<HistoryEntry> &entries)
{
    QJsonArray array;
    for (const HistoryEntry &entry : entries)
        array.append(entry.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<HistoryEntry>> HistoryEntry::decodeList(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<HistoryEntry> entries;
    const QJsonArray array = doc.array();
    entries.reserve(array.size());
    for (const QJsonValue &value : array) {
        if (!value.isObject())
            return std::nullopt;
        auto entry = fromJson(value.toObject());
        if (!entry)
            return std::nullopt;
        entries.append(std::move(*entry));
    }
    return entries;
}

bool operator==(const HistoryEntry &a, const HistoryEntry &b)
{
    return a.id == b.id && canonicallyEqual(a.path, b.path) && a.isDirectory == b.isDirectory
        && a.bookmarkData == b.bookmarkData && a.lastOpenedDate == b.lastOpenedDate;
}

size_t qHash(const HistoryEntry &entry, size_t seed)
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, entry.id);
    seed = combine(seed, entry.path.normalized(QString::NormalizationForm_D));
    seed = combine(seed, entry.isDirectory);
    seed = combine(seed, entry.bookmarkData);
    seed = combine(seed, entry.lastOpenedDate);
    return seed;
}

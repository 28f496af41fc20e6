#include "platform/Defaults.h"

#include "platform/JsonFields.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>

namespace {

const QString dataTag = QStringLiteral("$data");
const QString dateTag = QStringLiteral("$date");

// The decimal number a string starts with ("12abc" → 12, " 1.5e3x" → 1500, "abc" → 0). Read
// by hand, not with strtod: the application sets the C library's locale from the environment,
// where strtod would stop at the "." of "16.5" under a German locale, and it would also take
// hexadecimal, "inf" and "nan".
double leadingNumber(const QString &s)
{
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s.at(i).isSpace())
        ++i;
    const qsizetype start = i;
    if (i < n && (s.at(i) == u'+' || s.at(i) == u'-'))
        ++i;
    const auto isDigit = [&](qsizetype k) { return k < n && s.at(k) >= u'0' && s.at(k) <= u'9'; };
    qsizetype digits = 0;
    for (; isDigit(i); ++i)
        ++digits;
    if (i < n && s.at(i) == u'.') {
        ++i;
        for (; isDigit(i); ++i)
            ++digits;
    }
    if (digits == 0)
        return 0;
    qsizetype end = i;
    if (i < n && (s.at(i) == u'e' || s.at(i) == u'E')) {
        qsizetype k = i + 1;
        if (k < n && (s.at(k) == u'+' || s.at(k) == u'-'))
            ++k;
        if (isDigit(k)) {
            while (isDigit(k))
                ++k;
            end = k;
        }
    }
    bool ok = false;
    const double value = s.mid(start, end - start).toLatin1().toDouble(&ok);
    return ok ? value : 0; // beyond the range of a double
}

bool stringBool(const QString &s)
{
    int i = 0;
    while (i < s.size() && s.at(i).isSpace())
        ++i;
    if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-'))
        ++i;
    while (i < s.size() && s.at(i) == u'0')
        ++i;
    if (i >= s.size())
        return false;
    const QChar c = s.at(i);
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

} // namespace

Defaults::Defaults(QString filePath)
    : m_path(std::move(filePath))
{
    load();
}

QString Defaults::standardPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.config");
    return dir + QStringLiteral("/velto/defaults.json");
}

void Defaults::load()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (doc.isObject())
        m_values = doc.object();
}

bool Defaults::writeLocked()
{
    const QFileInfo info(m_path);
    QDir dir = info.absoluteDir();
    if (!dir.exists() && !dir.mkpath(QStringLiteral(".")))
        return false;
    QFile::setPermissions(dir.absolutePath(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(m_values).toJson(QJsonDocument::Indented));
    return file.commit();
}

bool Defaults::contains(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.contains(key);
}

std::optional<QJsonValue> Defaults::object(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_values.constFind(key);
    if (it == m_values.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QString> Defaults::string(const QString &key) const
{
    const auto v = object(key);
    if (!v)
        return std::nullopt;
    if (v->isString())
        return v->toString();
    if (v->isDouble()) {
        // Whole numbers print as integers while a double holds every one of them exactly.
        constexpr qint64 exactLimit = 9'000'000'000'000'000;
        const std::optional<qint64> whole = jsonfields::exactInteger(*v);
        if (whole && *whole > -exactLimit && *whole < exactLimit)
            return QString::number(*whole);
        return QString::number(v->toDouble(), 'g', QLocale::FloatingPointShortest);
    }
    return std::nullopt;
}

bool Defaults::boolValue(const QString &key) const
{
    const auto v = object(key);
    if (!v)
        return false;
    if (v->isBool())
        return v->toBool();
    if (v->isDouble())
        return v->toDouble() != 0.0;
    if (v->isString())
        return stringBool(v->toString());
    return false;
}

qint64 Defaults::integer(const QString &key) const
{
    const auto v = object(key);
    if (!v)
        return 0;
    if (v->isBool())
        return v->toBool() ? 1 : 0;
    if (v->isDouble()) {
        if (const std::optional<qint64> exact = jsonfields::exactInteger(*v))
            return *exact;
        const double d = v->toDouble();
        if (!std::isfinite(d))
            return 0;
        return d >= 9.2e18 ? std::numeric_limits<qint64>::max()
            : d <= -9.2e18 ? std::numeric_limits<qint64>::min()
                           : qint64(d);
    }
    if (v->isString()) {
        const double d = leadingNumber(v->toString());
        if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
            return 0;
        return qint64(d);
    }
    return 0;
}

double Defaults::doubleValue(const QString &key) const
{
    const auto v = object(key);
    if (!v)
        return 0;
    if (v->isBool())
        return v->toBool() ? 1 : 0;
    if (v->isDouble())
        return v->toDouble();
    if (v->isString())
        return leadingNumber(v->toString());
    return 0;
}

std::optional<QByteArray> Defaults::data(const QString &key) const
{
    const auto v = object(key);
    if (!v || !v->isObject())
        return std::nullopt;
    const QJsonObject o = v->toObject();
    if (o.size() != 1 || !o.value(dataTag).isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(o.value(dataTag).toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

std::optional<QDateTime> Defaults::date(const QString &key) const
{
    const auto v = object(key);
    if (!v || !v->isObject())
        return std::nullopt;
    const QJsonValue s = v->toObject().value(dateTag);
    if (!s.isDouble())
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(
        qint64(std::llround((s.toDouble() + referenceDateOffset) * 1000.0)), Qt::UTC);
}

std::optional<QJsonObject> Defaults::dictionary(const QString &key) const
{
    const auto v = object(key);
    if (!v || !v->isObject())
        return std::nullopt;
    const QJsonObject o = v->toObject();
    if (o.size() == 1 && (o.contains(dataTag) || o.contains(dateTag)))
        return std::nullopt;
    return o;
}

std::optional<QJsonArray> Defaults::array(const QString &key) const
{
    const auto v = object(key);
    if (!v || !v->isArray())
        return std::nullopt;
    return v->toArray();
}

void Defaults::set(const QString &key, const QJsonValue &value)
{
    QMutexLocker lock(&m_mutex);
    if (value.isUndefined() || value.isNull())
        m_values.remove(key);
    else
        m_values.insert(key, value);
    if (m_batchDepth > 0)
        m_dirty = true;
    else
        m_lastWriteOk = writeLocked();
}

Defaults::Batch::Batch(Defaults &defaults)
    : m_defaults(defaults)
{
    QMutexLocker lock(&m_defaults.m_mutex);
    ++m_defaults.m_batchDepth;
}

Defaults::Batch::~Batch()
{
    QMutexLocker lock(&m_defaults.m_mutex);
    if (--m_defaults.m_batchDepth == 0 && m_defaults.m_dirty) {
        m_defaults.m_dirty = false;
        m_defaults.m_lastWriteOk = m_defaults.writeLocked();
    }
}

void Defaults::setData(const QString &key, const QByteArray &bytes)
{
    set(key, QJsonObject {{dataTag, QString::fromLatin1(bytes.toBase64())}});
}

void Defaults::setDate(const QString &key, const QDateTime &date)
{
    set(key, QJsonObject {{dateTag, date.toMSecsSinceEpoch() / 1000.0 - referenceDateOffset}});
}

void Defaults::remove(const QString &key)
{
    set(key, QJsonValue::Undefined);
}

bool Defaults::lastWriteSucceeded() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastWriteOk;
}

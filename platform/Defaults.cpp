#include "platform/Defaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>
#include <cstdlib>

namespace {

const QString dataTag = QStringLiteral("$data");
const QString dateTag = QStringLiteral("$date");

// Leading number of a string the way strtod reads it ("12abc" → 12, "abc" → 0).
double leadingNumber(const QString &s)
{
    const QByteArray bytes = s.trimmed().toUtf8();
    return std::strtod(bytes.constData(), nullptr);
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

Defaults &Defaults::standard()
{
    static Defaults *instance = new Defaults(standardPath());
    return *instance;
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
        const double d = v->toDouble();
        if (std::floor(d) == d && std::fabs(d) < 9.0e15)
            return QString::number(v->toInteger());
        return QString::number(d, 'g', 17);
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
        const qint64 i = v->toInteger(std::numeric_limits<qint64>::min());
        if (i != std::numeric_limits<qint64>::min())
            return i;
        const double d = v->toDouble();
        if (!std::isfinite(d))
            return 0;
        return d >= 9.2e18 ? std::numeric_limits<qint64>::max()
             : d <= -9.2e18 ? std::numeric_limits<qint64>::min() : qint64(d);
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
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround((s.toDouble() + referenceDateOffset) * 1000.0)),
                                          Qt::UTC);
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
    set(key, QJsonObject{{dataTag, QString::fromLatin1(bytes.toBase64())}});
}

void Defaults::setDate(const QString &key, const QDateTime &date)
{
    set(key, QJsonObject{{dateTag, date.toMSecsSinceEpoch() / 1000.0 - referenceDateOffset}});
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

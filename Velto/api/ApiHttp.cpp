#include "Velto/api/ApiHttp.h"

#include "platform/JsonFields.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <climits>

ApiAnswer ApiAnswer::json(const QJsonObject &object)
{
    QByteArray body = apihttp::prettyJson(object);
    if (body.isEmpty())
        return {500, apihttp::textType.toByteArray(), QByteArrayLiteral("json error")};
    return {200, apihttp::jsonType.toByteArray(), std::move(body)};
}

ApiAnswer ApiAnswer::literal(int status, QByteArrayView jsonText)
{
    return {status, apihttp::jsonType.toByteArray(), jsonText.toByteArray()};
}

ApiAnswer ApiAnswer::text(const QString &text)
{
    return {200, apihttp::textType.toByteArray(), text.toUtf8()};
}

namespace apihttp {

namespace {

QStringView trimSpacesAndTabs(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && (s[begin] == u' ' || s[begin] == u'\t'))
        ++begin;
    while (end > begin && (s[end - 1] == u' ' || s[end - 1] == u'\t'))
        --end;
    return s.mid(begin, end - begin);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

QStringList splitFirst(QStringView text, QChar separator)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == separator)
        ++start;
    if (start == text.size())
        return {};
    const qsizetype at = text.indexOf(separator, start);
    if (at < 0)
        return {text.mid(start).toString()};
    QStringList pieces {text.mid(start, at - start).toString()};
    const QStringView rest = text.mid(at + 1);
    if (!rest.isEmpty())
        pieces << rest.toString();
    return pieces;
}

ApiRequest parseRequest(const QByteArray &text)
{
    ApiRequest request;
    const qsizetype blank = text.indexOf("\r\n\r\n");
    const QString head = QString::fromUtf8(blank < 0 ? text : text.left(blank));
    const QList<QStringView> lines = QStringView(head).split(u"\r\n", Qt::SkipEmptyParts);
    if (!lines.isEmpty()) {
        const QList<QStringView> tokens = lines.first().split(u' ', Qt::SkipEmptyParts);
        if (!tokens.isEmpty())
            request.method = tokens[0].toString();
        if (tokens.size() > 1)
            request.path = tokens[1].toString();
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList parts = splitFirst(lines[i], u':');
        if (parts.size() != 2)
            continue;
        request.headers.insert(trimSpacesAndTabs(parts[0]).toString().toLower(),
                               trimSpacesAndTabs(parts[1]).toString());
    }
    if (blank >= 0) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(text.mid(blank + 4), &error);
        if (error.error == QJsonParseError::NoError && doc.isObject())
            request.body = doc.object();
    }
    return request;
}

std::optional<QString> percentDecodeStrict(QStringView text)
{
    const QByteArray in = text.toUtf8();
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return std::nullopt;
        const int hi = hexValue(in[i + 1]);
        const int lo = hexValue(in[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += char(hi * 16 + lo);
        i += 2;
    }
    if (!isValidUtf8(out))
        return std::nullopt;
    return QString::fromUtf8(out);
}

std::optional<QString> parseQuery(const QString &target, const QString &name)
{
    // The last '?' starts the query, so an unencoded '?' inside a value cuts it; clients encode.
    const QList<QStringView> pieces = QStringView(target).split(u'?', Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return std::nullopt;
    const QList<QStringView> pairs = pieces.last().split(u'&', Qt::SkipEmptyParts);
    for (const QStringView pair : pairs) {
        const QStringList parts = splitFirst(pair, u'=');
        if (parts.size() == 2 && parts[0] == name)
            return percentDecodeStrict(parts[1]);
    }
    return std::nullopt;
}

bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        if (extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)))
            return false;
        if (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

QByteArray responseBytes(int status, QByteArrayView contentType, QByteArrayView body)
{
    QByteArray out;
    out.reserve(140 + contentType.size() + body.size());
    out += "HTTP/1.1 ";
    out += QByteArray::number(status);
    out += " OK\r\nContent-Type: ";
    out += contentType;
    out += "\r\nContent-Length: ";
    out += QByteArray::number(body.size());
    out += "\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n";
    out += body;
    return out;
}

QByteArray preflightResponseBytes()
{
    return QByteArrayLiteral("HTTP/1.1 204 OK\r\nContent-Length: 0\r\n"
                             "Access-Control-Allow-Origin: *\r\n"
                             "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
                             "Access-Control-Allow-Headers: Authorization, X-Api-Token, "
                             "Content-Type\r\n"
                             "Access-Control-Max-Age: 600\r\nConnection: close\r\n\r\n");
}

QByteArray prettyJson(const QJsonObject &object)
{
    // Qt indents by four spaces and sorts keys; strings never hold raw newlines, so every run of
    // spaces at a line start is indentation and can be halved.
    const QByteArray raw = QJsonDocument(object).toJson(QJsonDocument::Indented);
    QByteArray out;
    out.reserve(raw.size());
    bool atLineStart = true;
    qsizetype spaces = 0;
    for (const char c : raw) {
        if (atLineStart) {
            if (c == ' ') {
                ++spaces;
                continue;
            }
            out.append(spaces / 2, ' ');
            atLineStart = false;
        }
        out += c;
        if (c == '\n') {
            atLineStart = true;
            spaces = 0;
        }
    }
    return out;
}

std::optional<QString> textField(const QJsonObject &body, const QString &key)
{
    return jsonfields::string(body, key).value;
}

std::optional<bool> flagField(const QJsonObject &body, const QString &key)
{
    return jsonfields::boolean(body, key).value;
}

std::optional<int> integerField(const QJsonObject &body, const QString &key)
{
    const std::optional<double> d = jsonfields::wholeNumber(body.value(key));
    if (!d)
        return std::nullopt;
    if (*d <= 0)
        return 0;
    if (*d >= double(INT_MAX))
        return INT_MAX;
    return int(*d);
}

bool constantTimeEquals(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace apihttp

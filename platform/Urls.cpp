#include "platform/Urls.h"

using namespace Qt::StringLiterals;

namespace urls {

QString encodeQueryValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value, "/"));
}

QString encodePathSegment(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

std::optional<QUrl> webSocketURL(QUrl url)
{
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme();
    if (scheme == "http"_L1)
        url.setScheme(u"ws"_s);
    else if (scheme == "https"_L1)
        url.setScheme(u"wss"_s);
    else if (scheme != "ws"_L1 && scheme != "wss"_L1)
        return std::nullopt;
    return url;
}

} // namespace urls

#pragma once

#include <QString>

// Why a request produced no reply stream. A provider's refusal has domain "AIClient" and the
// HTTP status as code; a transport failure keeps the network layer's domain and code.
struct AIError
{
    QString domain;
    int code = 0;
    QString description;

    static constexpr const char *clientDomain = "AIClient";
    static constexpr const char *networkDomain = "QNetworkReply";

    bool isRefusal() const { return domain == QLatin1String(clientDomain); }
};

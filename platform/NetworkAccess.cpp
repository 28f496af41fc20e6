#include "platform/NetworkAccess.h"

#include <QNetworkAccessManager>

QNetworkAccessManager &sharedNetworkAccess()
{
    static auto *manager = new QNetworkAccessManager;
    return *manager;
}

#include "core/sync/SyncError.h"

SyncError::SyncError(Case errorCase, QString relativePath)
    : m_case(errorCase)
    , m_relativePath(errorCase == Case::conflictDetected ? std::move(relativePath) : QString())
{
}

QString SyncError::description() const
{
    switch (m_case) {
    case Case::conflictDetected:
        return QStringLiteral("Conflict detected: ") + m_relativePath;
    case Case::notPaired:
        return QStringLiteral("Not paired with any device");
    case Case::invalidURL:
        return QStringLiteral("Invalid download URL");
    }
    return {};
}

#include "core/sync/FileSyncError.h"

FileSyncError::FileSyncError(Case errorCase, int statusCode)
    : m_case(errorCase)
    , m_statusCode(errorCase == Case::serverError || errorCase == Case::downloadFailed ? statusCode
                                                                                       : 0)
{
}

std::optional<FileSyncError> FileSyncError::forStatus(int statusCode)
{
    switch (statusCode) {
    case 200:
    case 201:
        return std::nullopt;
    case 401:
        return FileSyncError(Case::unauthorized);
    case 403:
        return FileSyncError(Case::forbidden);
    case 404:
        return FileSyncError(Case::notFound);
    case 410:
        return FileSyncError(Case::gone);
    case 413:
        return FileSyncError(Case::fileTooLarge);
    case 422:
        return FileSyncError(Case::validationError);
    case 429:
        return FileSyncError(Case::rateLimited);
    default:
        return serverError(statusCode);
    }
}

QString FileSyncError::description() const
{
    // The backend's own vocabulary: fixed English texts, shown as they are.
    switch (m_case) {
    case Case::invalidResponse:
        return QStringLiteral("Invalid server response");
    case Case::unauthorized:
        return QStringLiteral("Authentication required");
    case Case::forbidden:
        return QStringLiteral("Access denied");
    case Case::notFound:
        return QStringLiteral("Resource not found");
    case Case::gone:
        return QStringLiteral("Resource has been deleted");
    case Case::fileTooLarge:
        return QStringLiteral("File exceeds 25 MB limit");
    case Case::validationError:
        return QStringLiteral("Invalid request");
    case Case::rateLimited:
        return QStringLiteral("Rate limit exceeded");
    case Case::serverError:
        return QStringLiteral("Server error (%1)").arg(m_statusCode);
    case Case::downloadFailed:
        return QStringLiteral("File download failed (HTTP %1)").arg(m_statusCode);
    }
    return {};
}

bool FileSyncError::operator==(const FileSyncError &other) const
{
    return m_case == other.m_case && m_statusCode == other.m_statusCode;
}

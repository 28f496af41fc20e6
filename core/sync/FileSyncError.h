#pragma once

#include <QString>

#include <optional>

// The errors of the sync backend client, with the texts that reach the user. Equal when the case
// is the same and, for the two cases with a status code, the code too.
class FileSyncError
{
public:
    enum class Case {
        invalidResponse,
        unauthorized,
        forbidden,
        notFound,
        gone,
        fileTooLarge,
        validationError,
        rateLimited,
        serverError,
        downloadFailed,
    };

    explicit FileSyncError(Case errorCase, int statusCode = 0);

    static FileSyncError serverError(int statusCode)
    {
        return FileSyncError(Case::serverError, statusCode);
    }
    static FileSyncError downloadFailed(int statusCode)
    {
        return FileSyncError(Case::downloadFailed, statusCode);
    }

    // The error for an HTTP status of a REST call; nothing for 200 and 201.
    static std::optional<FileSyncError> forStatus(int statusCode);

    Case errorCase() const { return m_case; }
    int statusCode() const { return m_statusCode; }
    bool hasStatusCode() const
    {
        return m_case == Case::serverError || m_case == Case::downloadFailed;
    }

    QString description() const;

    bool operator==(const FileSyncError &other) const;

private:
    Case m_case;
    int m_statusCode;
};

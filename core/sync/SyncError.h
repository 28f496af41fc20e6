#pragma once

#include <QString>

// The sync engine's own errors.
class SyncError
{
public:
    enum class Case { conflictDetected, notPaired, invalidURL };

    explicit SyncError(Case errorCase, QString relativePath = {});

    static SyncError conflictDetected(const QString &relativePath)
    {
        return SyncError(Case::conflictDetected, relativePath);
    }
    static SyncError notPaired() { return SyncError(Case::notPaired); }
    static SyncError invalidURL() { return SyncError(Case::invalidURL); }

    Case errorCase() const { return m_case; }
    QString relativePath() const { return m_relativePath; }

    QString description() const;

    bool operator==(const SyncError &other) const = default;

private:
    Case m_case;
    QString m_relativePath;
};

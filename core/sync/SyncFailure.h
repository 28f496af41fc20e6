#pragma once

#include "core/sync/FileSyncError.h"
#include "core/sync/SyncError.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QString>

#include <exception>
#include <optional>

// The one failure the sync core throws. It carries a backend error, an engine error, or one of
// the failures around them (transport, our own timeouts, undecodable bodies, file access, local
// caps, cancellation). description() is the text shown to the user.
class SyncFailure : public std::exception
{
public:
    enum class Kind { FileSync, Sync, Transport, Timeout, Decode, File, Cancelled, LocalLimit };
    enum class DecodeKind { dataCorrupted, keyNotFound, valueNotFound, typeMismatch };
    enum class FileOperation { read, write, createFolder, move };

    SyncFailure(const FileSyncError &error); // NOLINT(google-explicit-constructor)
    SyncFailure(const SyncError &error); // NOLINT(google-explicit-constructor)

    static SyncFailure transport(QNetworkReply::NetworkError code, const QString &text);
    static SyncFailure timeout();
    static SyncFailure decode(DecodeKind kind, const QString &keyPath);
    static SyncFailure file(FileOperation operation, const QString &path, const QString &reason);
    static SyncFailure cancelled();
    static SyncFailure localLimit(const QString &text);

    Kind kind() const { return m_kind; }
    bool isCancelled() const { return m_kind == Kind::Cancelled; }

    std::optional<FileSyncError> fileSyncError() const { return m_fileSync; }
    std::optional<SyncError> syncError() const { return m_sync; }
    QNetworkReply::NetworkError networkError() const { return m_network; }
    DecodeKind decodeKind() const { return m_decodeKind; }
    FileOperation fileOperation() const { return m_fileOperation; }
    // Decode failures: the key path ("files[3].size_bytes"); file failures: the path.
    QString path() const { return m_path; }

    QString description() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    explicit SyncFailure(Kind kind);
    void finish();

    Kind m_kind;
    std::optional<FileSyncError> m_fileSync;
    std::optional<SyncError> m_sync;
    QNetworkReply::NetworkError m_network = QNetworkReply::NoError;
    DecodeKind m_decodeKind = DecodeKind::dataCorrupted;
    FileOperation m_fileOperation = FileOperation::read;
    QString m_path;
    QString m_text;
    QByteArray m_what;
};

// The user-facing text of any exception the sync core lets through.
QString syncFailureDescription(const std::exception_ptr &error);

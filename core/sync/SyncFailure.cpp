#include "core/sync/SyncFailure.h"

#include "platform/L10n.h"

SyncFailure::SyncFailure(Kind kind)
    : m_kind(kind)
{
}

SyncFailure::SyncFailure(const FileSyncError &error)
    : m_kind(Kind::FileSync)
    , m_fileSync(error)
{
    finish();
}

SyncFailure::SyncFailure(const SyncError &error)
    : m_kind(Kind::Sync)
    , m_sync(error)
{
    finish();
}

SyncFailure SyncFailure::transport(QNetworkReply::NetworkError code, const QString &text)
{
    SyncFailure f(Kind::Transport);
    f.m_network = code;
    f.m_text = text;
    f.finish();
    return f;
}

SyncFailure SyncFailure::timeout()
{
    SyncFailure f(Kind::Timeout);
    f.finish();
    return f;
}

SyncFailure SyncFailure::decode(DecodeKind kind, const QString &keyPath)
{
    SyncFailure f(Kind::Decode);
    f.m_decodeKind = kind;
    f.m_path = keyPath;
    f.finish();
    return f;
}

SyncFailure SyncFailure::file(FileOperation operation, const QString &path, const QString &reason)
{
    SyncFailure f(Kind::File);
    f.m_fileOperation = operation;
    f.m_path = path;
    f.m_text = reason;
    f.finish();
    return f;
}

SyncFailure SyncFailure::cancelled()
{
    SyncFailure f(Kind::Cancelled);
    f.finish();
    return f;
}

SyncFailure SyncFailure::localLimit(const QString &text)
{
    SyncFailure f(Kind::LocalLimit);
    f.m_text = text;
    f.finish();
    return f;
}

void SyncFailure::finish()
{
    m_what = description().toUtf8();
}

QString SyncFailure::description() const
{
    switch (m_kind) {
    case Kind::FileSync:
        return m_fileSync->description();
    case Kind::Sync:
        return m_sync->description();
    case Kind::Transport:
        return m_text;
    case Kind::Timeout:
        return L10n::text(QStringLiteral("sync.error.timeout"));
    case Kind::Decode: {
        static const char *const kinds[]
            = {"sync.error.decode.dataCorrupted", "sync.error.decode.keyNotFound",
               "sync.error.decode.valueNotFound", "sync.error.decode.typeMismatch"};
        const QString what = L10n::text(QString::fromLatin1(kinds[int(m_decodeKind)]));
        if (m_path.isEmpty())
            return L10n::format(QStringLiteral("sync.error.decode"), {what});
        return L10n::format(QStringLiteral("sync.error.decodeAt"), {what, m_path});
    }
    case Kind::File: {
        static const char *const ops[] = {"sync.error.file.read", "sync.error.file.write",
                                          "sync.error.file.createFolder", "sync.error.file.move"};
        return L10n::format(QString::fromLatin1(ops[int(m_fileOperation)]), {m_path, m_text});
    }
    case Kind::Cancelled:
        return L10n::text(QStringLiteral("sync.error.cancelled"));
    case Kind::LocalLimit:
        return m_text;
    }
    return {};
}

QString syncFailureDescription(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const SyncFailure &f) {
        return f.description();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return L10n::text(QStringLiteral("sync.error.unknown"));
    }
}

#include "platform/Detached.h"

Q_LOGGING_CATEGORY(lcTasks, "velto.tasks")

namespace detached {

void logFailure(const QString &what, std::exception_ptr error)
{
    QString reason = QStringLiteral("unknown exception");
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        reason = QString::fromUtf8(e.what());
    } catch (...) {
    }
    qCWarning(lcTasks).noquote() << what + QStringLiteral(" failed: ") + reason;
}

} // namespace detached

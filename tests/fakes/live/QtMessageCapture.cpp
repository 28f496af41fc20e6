#include "fakes/live/QtMessageCapture.h"

#include <QMutex>
#include <QtGlobal>

namespace {

QMutex captureMutex;
QStringList captured;
QtMessageHandler previousHandler = nullptr;

void capture(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&captureMutex);
    captured.append(message);
}

} // namespace

QtMessageCapture::QtMessageCapture()
{
    clear();
    previousHandler = qInstallMessageHandler(capture);
}

QtMessageCapture::~QtMessageCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList QtMessageCapture::lines() const
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

int QtMessageCapture::count(const QString &fragment) const
{
    QMutexLocker lock(&captureMutex);
    int n = 0;
    for (const QString &line : std::as_const(captured))
        n += line.contains(fragment) ? 1 : 0;
    return n;
}

void QtMessageCapture::clear()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
}

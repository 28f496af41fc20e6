#include "core/ai/AIRequestBody.h"

#include <cstring>

AIRequestBody::AIRequestBody(QByteArray data, QObject *parent)
    : QIODevice(parent)
    , m_data(std::move(data))
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool AIRequestBody::seek(qint64 pos)
{
    if (pos < 0 || pos > m_data.size())
        return false;
    if (pos < this->pos() && !m_rewindAllowed)
        return false;
    return QIODevice::seek(pos);
}

qint64 AIRequestBody::readData(char *data, qint64 maxSize)
{
    const qint64 count = std::min<qint64>(maxSize, m_data.size() - pos());
    if (count <= 0)
        return 0;
    std::memcpy(data, m_data.constData() + pos(), size_t(count));
    return count;
}

qint64 AIRequestBody::writeData(const char *, qint64)
{
    return -1;
}

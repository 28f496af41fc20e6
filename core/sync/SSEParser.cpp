#include "core/sync/SSEParser.h"

SSEParser::SSEParser(std::optional<QString> folderId, qint64 maxLineBytes)
    : m_folderId(std::move(folderId))
    , m_maxLineBytes(maxLineBytes)
{
}

void SSEParser::feed(const QByteArray &bytes, QList<SSEChangeNotification> &out)
{
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        if (m_skipLF) {
            m_skipLF = false;
            if (bytes.at(i) == '\n') {
                ++i;
                continue;
            }
        }
        // Find the next terminator.
        qsizetype j = i;
        while (j < n && bytes.at(j) != '\n' && bytes.at(j) != '\r')
            ++j;
        if (!m_overlong) {
            if (m_line.size() + (j - i) > m_maxLineBytes) {
                m_overlong = true;
                m_line.clear();
            } else {
                m_line.append(bytes.constData() + i, j - i);
            }
        }
        if (j == n)
            break;
        // A CR may be followed by an LF in this read or the next one; either way it is one end.
        m_skipLF = bytes.at(j) == '\r';
        i = j + 1;
        endLine(out);
    }
}

void SSEParser::endLine(QList<SSEChangeNotification> &out)
{
    if (m_overlong) {
        m_overlong = false;
        m_line.clear();
        ++m_droppedLines;
        m_atStart = false;
        return;
    }
    if (m_atStart) {
        m_atStart = false;
        if (m_line.startsWith("\xEF\xBB\xBF"))
            m_line.remove(0, 3);
    }
    const QString line = QString::fromUtf8(m_line);
    m_line.clear();
    processLine(line, out);
}

void SSEParser::processLine(const QString &line, QList<SSEChangeNotification> &out)
{
    if (line.isEmpty()) {
        const QString type = m_currentType.value_or(QStringLiteral("change"));
        out.append(SSEChangeNotification(
            m_currentId, m_folderId, sseEventTypeFromString(type).value_or(SSEEventType::change)));
        m_currentId.reset();
        m_currentType.reset();
        return;
    }
    if (line.startsWith(QLatin1String("id:")))
        m_currentId = trimHorizontal(line.mid(3));
    else if (line.startsWith(QLatin1String("event:")))
        m_currentType = trimHorizontal(line.mid(6));

    static const QLatin1String keepalive(": keepalive ");
    if (line.startsWith(keepalive)) {
        const QString rest = trimHorizontal(line.mid(keepalive.size()));
        if (!rest.isEmpty())
            out.append(SSEChangeNotification(rest, m_folderId, SSEEventType::keepalive));
    }
}

QString SSEParser::trimHorizontal(const QString &text)
{
    auto horizontal = [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && horizontal(text.at(begin)))
        ++begin;
    while (end > begin && horizontal(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

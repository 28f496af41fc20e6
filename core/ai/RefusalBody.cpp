#include "core/ai/RefusalBody.h"

#include "platform/Graphemes.h"

#include <QStringDecoder>

#include <vector>

bool RefusalBody::append(const QByteArray &bytes)
{
    if (m_cut >= 0 || m_capped)
        return true;
    m_taken += bytes.size();
    take(m_splitter.feed(bytes));
    if (m_taken >= maxBytes) {
        // The line the cap cut into counts as far as it came, without a character the cut split.
        m_capped = true;
        for (const QByteArray &rest : m_splitter.finish()) {
            QStringDecoder decoder(QStringDecoder::Utf8);
            m_text += decoder.decode(rest);
            m_lineEnds.append(m_text.size());
        }
        evaluate();
        return true;
    }
    if (m_text.size() >= m_nextCheck) {
        evaluate();
        // Small texts are checked every few hundred code units, so a body that stops short of
        // its end is still noticed; larger ones at doubling sizes.
        m_nextCheck = m_text.size() < 4096 ? m_text.size() + 512 : m_text.size() * 2;
    }
    return m_cut >= 0;
}

void RefusalBody::finish()
{
    if (!m_capped)
        take(m_splitter.finish());
    evaluate();
}

bool RefusalBody::passedLimit()
{
    evaluate();
    return m_cut >= 0;
}

QString RefusalBody::text() const
{
    return m_cut >= 0 ? m_text.left(m_cut) : m_text;
}

void RefusalBody::take(const QList<QByteArray> &lines)
{
    if (m_cut >= 0)
        return;
    for (const QByteArray &line : lines) {
        // Decoded per complete line: a character split across network reads stays whole.
        m_text += QString::fromUtf8(line);
        m_lineEnds.append(m_text.size());
    }
}

void RefusalBody::evaluate()
{
    if (m_cut >= 0 || m_text.size() == m_evaluatedSize)
        return;
    m_evaluatedSize = m_text.size();
    // Every Character is at least one code unit.
    if (m_text.size() <= limit)
        return;
    // A boundary inside a prefix depends only on the text up to the character after it, so the
    // Characters of the text through line k are the boundaries of the whole text that lie
    // before the end of line k, plus the one Character that ends there.
    std::vector<qsizetype> boundaries;
    graphemes::appendBoundaries(m_text, 0, m_text.size(), boundaries);
    std::size_t inside = 0;
    for (const qsizetype end : std::as_const(m_lineEnds)) {
        while (inside < boundaries.size() && boundaries[inside] < end)
            ++inside;
        const qint64 characters = end > 0 ? qint64(inside) + 1 : 0;
        if (characters > limit) {
            m_cut = end;
            return;
        }
    }
}

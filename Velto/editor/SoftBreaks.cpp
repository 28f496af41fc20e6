#include "Velto/editor/SoftBreaks.h"

#include <QTextDocument>

#include <algorithm>

std::optional<QString> softbreaks::lineText(const QTextDocument *doc, int start, int end)
{
    const QTextBlock first = doc->findBlock(start);
    const QTextBlock last = doc->findBlock(end);
    bool soft = false;
    for (QTextBlock block = first; block.isValid() && block != last && !soft;) {
        block = block.next();
        soft = continuesLine(block);
    }
    if (!soft)
        return std::nullopt;
    QString text;
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        if (block != first && !continuesLine(block))
            text.append(u'\n');
        const int from = std::max(0, start - block.position());
        const int to = std::min(block.length() - 1, end - block.position());
        text.append(QStringView(block.text()).mid(from, to - from));
        if (block == last)
            break;
    }
    return text;
}

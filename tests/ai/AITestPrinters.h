#pragma once

#include "core/ai/AIStreamChunk.h"

#include <QByteArray>
#include <QString>

#include <ostream>

// Readable GoogleTest failure messages for the Qt values these tests compare.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray &b, std::ostream *os)
{
    *os << '"' << b.toStdString() << '"';
}

inline void PrintTo(const AIStreamChunk &c, std::ostream *os)
{
    *os << "{\"" << c.text.toStdString() << "\", " << (c.done ? "done" : "more") << '}';
}

#pragma once

#include <QStringList>

// Collects the messages written through Qt's logging (qCInfo, qCWarning, …) while it lives; the
// category is not part of a line. One capture at a time.
class QtMessageCapture
{
public:
    QtMessageCapture();
    ~QtMessageCapture();
    QtMessageCapture(const QtMessageCapture &) = delete;
    QtMessageCapture &operator=(const QtMessageCapture &) = delete;

    QStringList lines() const;
    int count(const QString &fragment) const;
    bool contains(const QString &fragment) const { return count(fragment) > 0; }
    void clear();
};

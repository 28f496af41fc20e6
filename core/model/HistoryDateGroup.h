#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// The age bucket under which the history lists an entry, in section order.
class HistoryDateGroup
{
public:
    enum Value { today, yesterday, last7Days, last30Days, older };

    constexpr HistoryDateGroup(Value value = today)
        : m_value(value)
    {
    }
    constexpr operator Value() const { return m_value; }

    static QList<HistoryDateGroup> allCases();

    // The group of a date in the local calendar, measured against the current time.
    static HistoryDateGroup from(const QDateTime &date);
    static HistoryDateGroup from(const QDateTime &date, const QDateTime &now);

    // The localized section title.
    QString title() const;
    QString titleKey() const;

private:
    Value m_value;
};

inline size_t qHash(HistoryDateGroup group, size_t seed = 0)
{
    return qHash(int(HistoryDateGroup::Value(group)), seed);
}

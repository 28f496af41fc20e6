#include "core/model/HistoryDateGroup.h"

#include "platform/L10n.h"

QList<HistoryDateGroup> HistoryDateGroup::allCases()
{
    return {today, yesterday, last7Days, last30Days, older};
}

HistoryDateGroup HistoryDateGroup::from(const QDateTime &date)
{
    return from(date, QDateTime::currentDateTime());
}

HistoryDateGroup HistoryDateGroup::from(const QDateTime &date, const QDateTime &now)
{
    if (!date.isValid() || !now.isValid())
        return last7Days;
    const QDateTime local = date.toLocalTime();
    const QDateTime localNow = now.toLocalTime();
    const QDate today = localNow.date();
    if (local.date() == today)
        return HistoryDateGroup::today;
    if (local.date() == today.addDays(-1))
        return yesterday;
    // Whole calendar days from the date to now: the day count, less one when adding it would
    // overshoot the time of day (6 days and 23 hours count as 6). addDays keeps the wall-clock
    // time across daylight-saving changes, as a calendar day component does.
    qint64 days = local.date().daysTo(today);
    if (local.addDays(days) > localNow)
        --days;
    if (days < 7)
        return last7Days;
    if (days < 30)
        return last30Days;
    return older;
}

QString HistoryDateGroup::titleKey() const
{
    switch (m_value) {
    case today:
        return QStringLiteral("history.today");
    case yesterday:
        return QStringLiteral("history.yesterday");
    case last7Days:
        return QStringLiteral("history.last7Days");
    case last30Days:
        return QStringLiteral("history.last30Days");
    case older:
        break;
    }
    return QStringLiteral("history.older");
}

QString HistoryDateGroup::title() const
{
    return L10n::text(titleKey());
}

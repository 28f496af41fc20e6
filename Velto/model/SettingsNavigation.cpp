#include "Velto/model/SettingsNavigation.h"

#include "platform/RootInstance.h"

QString SettingsTabs::toString(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::editor:
        return QStringLiteral("editor");
    case SettingsTab::design:
        return QStringLiteral("design");
    case SettingsTab::ai:
        return QStringLiteral("ai");
    case SettingsTab::api:
        return QStringLiteral("api");
    case SettingsTab::sync:
        return QStringLiteral("sync");
    }
    return {};
}

SettingsNavigation &SettingsNavigation::shared()
{
    return RootInstance<SettingsNavigation>::get();
}

SettingsNavigation::SettingsNavigation(QObject *parent)
    : QObject(parent)
{
}

void SettingsNavigation::setSelectedTab(SettingsTab tab)
{
    if (m_selectedTab == tab)
        return;
    m_selectedTab = tab;
    emit selectedTabChanged();
}

void SettingsNavigation::open(SettingsTab tab)
{
    setSelectedTab(tab);
    emit openRequested();
}

#pragma once

#include <QObject>
#include <QString>

// The tabs of the settings window, in their order.
enum class SettingsTab { editor, design, ai, api, sync };

namespace SettingsTabs {
QString toString(SettingsTab tab);
} // namespace SettingsTabs

// Which tab the settings window shows, also while it is open. Process-wide, so any part of the
// program (the chat's "open settings", the menu) can open the window on a tab. Never persisted:
// every run starts on the editor tab.
class SettingsNavigation : public QObject
{
    Q_OBJECT
public:
    static SettingsNavigation &shared();
    explicit SettingsNavigation(QObject *parent = nullptr);

    SettingsTab selectedTab() const { return m_selectedTab; }
    void setSelectedTab(SettingsTab tab);

    // Selects the tab, then asks the application to open the settings window or bring it to the
    // front (the chat's "open settings" uses this with the AI tab).
    void open(SettingsTab tab);

signals:
    void selectedTabChanged();
    void openRequested();

private:
    SettingsTab m_selectedTab = SettingsTab::editor;
};

#pragma once

#include <QObject>
#include <QString>

// The tabs of the settings window, in their order.
enum class SettingsTab { editor, design, ai, api, sync };

namespace SettingsTabs {
QString toString(SettingsTab tab);
} // namespace SettingsTabs

// Which tab the settings window shows, also while it is open. One per application, handed to
// every part of the program that opens the window on a tab (the chat's "open settings", the
// menu). Never persisted: every run starts on the editor tab.
class SettingsNavigation : public QObject
{
    Q_OBJECT
public:
    // The application's instance (its root builds and owns it), for callers not handed one.
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

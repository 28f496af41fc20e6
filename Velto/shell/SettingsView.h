#pragma once

#include "Velto/model/SettingsNavigation.h"
#include "Velto/shell/APISettingsTab.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class AISettings;
class AppSettings;
class Clock;
class DebugServer;
class MacSyncAdapter;
class QTabWidget;

// Builds the sync tab's content for the adapter.
using SyncSettingsFactory = std::function<QWidget *(MacSyncAdapter &, QWidget *parent)>;

// The settings window: one fixed-size window with the editor, design, AI, API and sync tabs. The
// tab shown follows the navigation object both ways, so any part of the program can open the
// window on a tab, also while it is open on another.
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    struct Services
    {
        AppSettings *settings = nullptr;
        AISettings *aiSettings = nullptr;
        DebugServer *server = nullptr;
        MacSyncAdapter *syncAdapter = nullptr;
        SyncSettingsFactory makeSyncSettings; // unset: syncSettingsPlaceholder
        APISettingsTab::DelayedCall delay; // unset: a timer of the clock
        std::function<void(const QUrl &)> openURL; // unset: the default browser
        Clock *clock = nullptr; // for the timer when no delay is handed in; unset: Qt timers
    };

    // The fonts the editor tab offers, in this order.
    static const QStringList &defaultFonts();
    static constexpr QSize windowSize {520, 460};

    SettingsView(const QStringList &fonts, SettingsNavigation &nav, const Services &services,
                 QWidget *parent = nullptr);

    QTabWidget *tabs() const { return m_tabs; }
    QWidget *tab(SettingsTab tab) const;

    // The sync tab's page until the sync settings view takes its place.
    static QWidget *syncSettingsPlaceholder(MacSyncAdapter &adapter, QWidget *parent);

protected:
    // The sync tab is built anew each time the window is shown: nothing half-typed or reported
    // last time stays.
    void showEvent(QShowEvent *event) override;

private:
    void showSelectedTab();

    SettingsNavigation &m_nav;
    QTabWidget *m_tabs;
    MacSyncAdapter *m_syncAdapter;
    SyncSettingsFactory m_makeSync;
    bool m_shown = false;
};

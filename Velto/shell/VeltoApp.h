#pragma once

#include "Velto/model/SettingsNavigation.h"
#include "Velto/shell/LegalInfoType.h"
#include "Velto/shell/ShellServices.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

class LegalAcceptanceView;
class MainWindow;
class QAction;
class QApplication;
class QMenuBar;
class QSessionManager;
class SettingsView;
class WorkspaceState;

// The application object: the main windows, the menu commands on the focused window's workspace,
// the settings, about and legal windows, and quitting with a word about unsaved changes.
class VeltoApp : public QObject
{
    Q_OBJECT
public:
    explicit VeltoApp(const ShellServices &services = {}, QObject *parent = nullptr);
    ~VeltoApp() override;

    // Application name, icon and the toolkit's German texts, before any window exists.
    static void prepare(QApplication &app);

    // A new main window with the menus, shown at its default size and started.
    MainWindow *openMainWindow();
    // Every main window still open, in the order they were created.
    QList<MainWindow *> mainWindows() const;

    // The workspace of the active main window; none while no main window is focused.
    WorkspaceState *focusedWorkspace() const;

    // The menu commands.
    void newFile();
    void openDocument();
    void save();
    void saveAs();
    void exportHTML();
    void exportPDF();
    void showAbout();
    void openSettings();
    void openSettings(SettingsTab tab);
    void showLegalInfo(LegalInfoType type);

    // Asks about every modified document, one window after the other (save, discard or cancel);
    // quits unless the user cancelled or a save failed. True when the application quits.
    QCoro::Task<bool> requestQuit();
    // The same question without quitting: true when every modified document was saved or
    // discarded.
    QCoro::Task<bool> confirmUnsavedChanges();

    // The legal information being shown (menu Help › Legal); none while no legal text is shown.
    std::optional<LegalInfoType> activeLegalInfo() const { return m_activeLegalInfo; }
    void setActiveLegalInfo(std::optional<LegalInfoType> type);

    // Shows the legal acceptance over a window that appeared while the terms are not yet
    // accepted; by default the acceptance dialog, which cannot be dismissed: Accept closes it in
    // every window, Decline quits (asking about unsaved documents first).
    void setLegalAcceptancePresenter(std::function<void(MainWindow &)> presenter);
    bool hasAcceptedLegal() const;
    // The acceptance dialogs open now.
    QList<LegalAcceptanceView *> legalAcceptanceDialogs() const;

    // The settings window, created on first use and kept for the rest of the run.
    SettingsView *settingsWindow();

    // What ends the process once quitting is decided (tests record it instead).
    void setTerminate(std::function<void()> terminate) { m_terminate = std::move(terminate); }
    bool isQuitting() const { return m_quitting; }

    // The menu actions, for tests and for other windows that want them.
    QAction *action(const QString &key) const;

signals:
    void activeLegalInfoChanged();

private:
    void createActions();
    void installMenus(QMenuBar *bar, MainWindow *window);
    void updateActionStates();
    void commitData(QSessionManager &manager);
    MainWindow *focusedWindow() const;
    void editCommand(MainWindow *window, const QString &key);
    void presentLegalAcceptance(MainWindow &window);
    void quitRefused();

    ShellServices m_services;
    QList<QPointer<MainWindow>> m_windows;
    QHash<QString, QAction *> m_actions;
    std::optional<LegalInfoType> m_activeLegalInfo;
    std::function<void(MainWindow &)> m_legalPresenter;
    std::function<void()> m_terminate;
    QPointer<SettingsView> m_settingsWindow;
    QPointer<QWidget> m_legalWindow;
    QList<QPointer<LegalAcceptanceView>> m_acceptanceDialogs;
    bool m_quitting = false;
    bool m_askingToQuit = false;
};

#include "Velto/shell/VeltoApp.h"

#include "Velto/api/DebugServer.h"
#include "Velto/api/WindowEndpoints.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/preview/Export.h"
#include "Velto/preview/PreviewServices.h"
#include "Velto/preview/PreviewView.h"
#include "Velto/shell/AboutView.h"
#include "Velto/shell/ContentView.h"
#include "Velto/shell/EditorView.h"
#include "Velto/shell/LegalAcceptanceView.h"
#include "Velto/shell/LegalInfoView.h"
#include "Velto/shell/MainWindow.h"
#include "Velto/shell/SettingsView.h"
#include "Velto/shell/ShellDialogs.h"
#include "platform/Defaults.h"
#include "platform/Detached.h"
#include "platform/L10n.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSessionManager>
#include <QStyle>
#include <QTranslator>
#include <QWebEngineView>
#include <QWindow>

namespace {

const QString hasAcceptedLegalKey = QStringLiteral("hasAcceptedLegal");

// The editor's own keys, shown beside the edit menu's entries; the editor handles them itself.
struct EditEntry
{
    const char *key;
    const char *shortcut;
};
constexpr EditEntry editEntries[] = {
    {"edit.undo", "Ctrl+Z"},
    {"edit.redo", "Ctrl+Shift+Z"},
    {nullptr, nullptr},
    {"edit.cut", "Ctrl+X"},
    {"edit.copy", "Ctrl+C"},
    {"edit.paste", "Ctrl+V"},
    {"edit.selectAll", "Ctrl+A"},
    {nullptr, nullptr},
    {"edit.find", "Ctrl+F"},
    {"edit.findNext", "Ctrl+G"},
    {"edit.findPrevious", "Ctrl+Shift+G"},
    {"edit.replace", "Ctrl+Alt+F"},
};

template<typename Window> QList<Window *> stillOpen(const QList<QPointer<Window>> &windows)
{
    QList<Window *> open;
    for (const auto &w : windows) {
        if (w)
            open.append(w);
    }
    return open;
}

void centreOnScreen(QWidget *window)
{
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(),
                                                screen->availableGeometry()));
}

} // namespace

VeltoApp::VeltoApp(const ShellServices &services, QObject *parent)
    : QObject(parent)
    , m_services(services.resolved())
    , m_terminate([this] {
        QCoreApplication::quit();
        // Any window may still refuse its close event and so the whole quit.
        QMetaObject::invokeMethod(this, &VeltoApp::quitRefused, Qt::QueuedConnection);
    })
{
    m_legalPresenter = [this](MainWindow &window) {
        // Once the window is up, so the question sits over it; unless another window's
        // acceptance came first.
        QMetaObject::invokeMethod(
            &window,
            [self = QPointer(this), w = QPointer(&window)] {
                if (self && w && !self->hasAcceptedLegal())
                    self->presentLegalAcceptance(*w);
            },
            Qt::QueuedConnection);
    };
    connect(m_services.navigation, &SettingsNavigation::openRequested, this,
            qOverload<>(&VeltoApp::openSettings));
    createActions();
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &VeltoApp::updateActionStates);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &VeltoApp::updateActionStates);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &VeltoApp::commitData);
    updateActionStates();
    // The local API opens the settings window the way the menu does.
    windowendpoints::Options options;
    options.clock = m_services.clock;
    windowendpoints::registerAppSettings(
        *m_services.debugServer,
        [app = QPointer<VeltoApp>(this)] {
            if (app)
                app->action(QStringLiteral("menu.settings"))->trigger();
        },
        options);
}

VeltoApp::~VeltoApp()
{
    delete m_settingsWindow.data();
}

void VeltoApp::prepare(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Velto"));
    // No display name: the toolkit would append it to every window title ("… — Velto"), and the
    // main window's title already says what the window holds.
    QApplication::setOrganizationName(QStringLiteral("Velto"));
    QApplication::setApplicationVersion(QStringLiteral(VELTO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("velto"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/velto.svg")));
    // The toolkit's own texts (file dialogs, standard buttons) in German, like the rest.
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    PreviewView::useSoftwareSceneWithoutGpu();
}

// ---- windows

MainWindow *VeltoApp::openMainWindow()
{
    auto *window = new MainWindow(m_services);
    window->setAttribute(Qt::WA_DeleteOnClose);
    installMenus(window->menuBar(), window);
    connect(window, &MainWindow::activationChanged, this, &VeltoApp::updateActionStates);
    m_windows.append(window);
    window->show();
    window->start();
    if (!hasAcceptedLegal() && m_legalPresenter)
        m_legalPresenter(*window);
    updateActionStates();
    return window;
}

QList<MainWindow *> VeltoApp::mainWindows() const
{
    return stillOpen(m_windows);
}

MainWindow *VeltoApp::focusedWindow() const
{
    for (MainWindow *w : mainWindows()) {
        if (w->isActiveWindow())
            return w;
    }
    return nullptr;
}

WorkspaceState *VeltoApp::focusedWorkspace() const
{
    MainWindow *w = focusedWindow();
    return w ? &w->workspace() : nullptr;
}

// ---- menus

void VeltoApp::createActions()
{
    auto make = [this](const QString &key, const QKeySequence &shortcut, void (VeltoApp::*slot)()) {
        auto *action = new QAction(L10n::text(key), this);
        action->setShortcut(shortcut);
        if (slot)
            connect(action, &QAction::triggered, this, slot);
        m_actions.insert(key, action);
        return action;
    };
    make(QStringLiteral("menu.newFile"), QKeySequence(QStringLiteral("Ctrl+N")),
         &VeltoApp::newFile);
    make(QStringLiteral("menu.open"), QKeySequence(QStringLiteral("Ctrl+O")),
         &VeltoApp::openDocument);
    make(QStringLiteral("menu.save"), QKeySequence(QStringLiteral("Ctrl+S")), &VeltoApp::save);
    make(QStringLiteral("menu.saveAs"), QKeySequence(QStringLiteral("Ctrl+Shift+S")),
         &VeltoApp::saveAs);
    make(QStringLiteral("menu.exportHTML"), {}, &VeltoApp::exportHTML);
    make(QStringLiteral("menu.exportPDF"), QKeySequence(QStringLiteral("Ctrl+Shift+E")),
         &VeltoApp::exportPDF);
    QAction *settings
        = make(QStringLiteral("menu.settings"), QKeySequence(QStringLiteral("Ctrl+,")), nullptr);
    connect(settings, &QAction::triggered, this, [this] { openSettings(); });
    QAction *quit
        = make(QStringLiteral("menu.quit"), QKeySequence(QStringLiteral("Ctrl+Q")), nullptr);
    connect(quit, &QAction::triggered, this, [this] { requestQuit(); });

    AppSettings *appSettings = m_services.settings;
    QAction *focus
        = make(QStringLiteral("menu.focusMode"), QKeySequence(QStringLiteral("Ctrl+\\")), nullptr);
    QAction *wide = make(QStringLiteral("menu.wideMode"),
                         QKeySequence(QStringLiteral("Ctrl+Shift+W")), nullptr);
    focus->setCheckable(true);
    wide->setCheckable(true);
    connect(focus, &QAction::triggered, appSettings, &AppSettings::setIsFocusMode);
    connect(wide, &QAction::triggered, appSettings, &AppSettings::setIsWideMode);
    auto syncToggles = [appSettings, focus, wide] {
        const QSignalBlocker focusBlock(focus);
        const QSignalBlocker wideBlock(wide);
        focus->setChecked(appSettings->isFocusMode());
        wide->setChecked(appSettings->isWideMode());
    };
    connect(appSettings, &AppSettings::isFocusModeChanged, this, syncToggles);
    connect(appSettings, &AppSettings::isWideModeChanged, this, syncToggles);
    syncToggles();

    make(QStringLiteral("menu.about"), {}, &VeltoApp::showAbout);
    for (LegalInfoType type : LegalInfoTypes::allCases()) {
        QAction *item = make(LegalInfoTypes::menuKey(type), {}, nullptr);
        connect(item, &QAction::triggered, this, [this, type] { showLegalInfo(type); });
    }

    for (const EditEntry &entry : editEntries) {
        if (!entry.key)
            continue;
        const QString key = QString::fromLatin1(entry.key);
        // The shortcut is only shown: the focused editor takes these keys itself.
        auto *action = new QAction(L10n::text(key) + u'\t'
                                       + QKeySequence(QString::fromLatin1(entry.shortcut))
                                             .toString(QKeySequence::NativeText),
                                   this);
        connect(action, &QAction::triggered, this,
                [this, key] { editCommand(focusedWindow(), key); });
        m_actions.insert(key, action);
    }
}

QAction *VeltoApp::action(const QString &key) const
{
    return m_actions.value(key);
}

void VeltoApp::installMenus(QMenuBar *bar, MainWindow *window)
{
    Q_UNUSED(window);
    auto add
        = [this](QMenu *menu, const char *key) { menu->addAction(action(QLatin1String(key))); };

    QMenu *file = bar->addMenu(L10n::text(QStringLiteral("menu.file")));
    add(file, "menu.newFile");
    file->addSeparator();
    add(file, "menu.open");
    add(file, "menu.save");
    add(file, "menu.saveAs");
    file->addSeparator();
    add(file, "menu.exportHTML");
    add(file, "menu.exportPDF");
    file->addSeparator();
    add(file, "menu.settings");
    file->addSeparator();
    add(file, "menu.quit");

    QMenu *edit = bar->addMenu(L10n::text(QStringLiteral("menu.edit")));
    for (const EditEntry &entry : editEntries) {
        if (entry.key)
            add(edit, entry.key);
        else
            edit->addSeparator();
    }

    QMenu *view = bar->addMenu(L10n::text(QStringLiteral("menu.view")));
    add(view, "menu.focusMode");
    add(view, "menu.wideMode");

    QMenu *help = bar->addMenu(L10n::text(QStringLiteral("menu.help")));
    add(help, "menu.about");
    QMenu *legal = help->addMenu(L10n::text(QStringLiteral("menu.legal")));
    add(legal, "menu.impressum");
    add(legal, "menu.terms");
    add(legal, "menu.privacy");
    legal->addSeparator();
    add(legal, "menu.accessibility");
}

void VeltoApp::updateActionStates()
{
    // Only Save and Save As show that they need a focused document; the others stay enabled
    // and do nothing without one.
    const bool focused = focusedWorkspace() != nullptr;
    action(QStringLiteral("menu.save"))->setEnabled(focused);
    action(QStringLiteral("menu.saveAs"))->setEnabled(focused);
}

// ---- commands

void VeltoApp::newFile()
{
    WorkspaceState *workspace = focusedWorkspace();
    bool restored = false;
    for (MainWindow *w : mainWindows()) {
        if (w->isMinimized()) {
            w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
            w->show();
            w->raise();
            w->activateWindow();
            restored = true;
            break;
        }
    }
    if (!restored) {
        MainWindow *w = focusedWindow();
        if (!w && !mainWindows().isEmpty())
            w = mainWindows().constFirst();
        if (w) {
            w->raise();
            w->activateWindow();
        }
    }
    if (workspace)
        runDetached(workspace->closeFile(), QStringLiteral("New document"));
}

void VeltoApp::openDocument()
{
    if (WorkspaceState *ws = focusedWorkspace())
        ws->showOpenPanel();
}

void VeltoApp::save()
{
    if (WorkspaceState *ws = focusedWorkspace())
        ws->save();
}

void VeltoApp::saveAs()
{
    if (WorkspaceState *ws = focusedWorkspace())
        runDetached(ws->saveAs(), QStringLiteral("Saving under a new name"));
}

void VeltoApp::exportHTML()
{
    if (WorkspaceState *ws = focusedWorkspace())
        Export::exportHTML(ws->text(),
                           ShellDialogs::exportEnvironment(ShellDialogs::startFolder(*ws),
                                                           m_services.previewServices()));
}

void VeltoApp::exportPDF()
{
    WorkspaceState *ws = focusedWorkspace();
    if (!ws)
        return;
    ExportEnvironment env = ShellDialogs::exportEnvironment(ShellDialogs::startFolder(*ws),
                                                            m_services.previewServices());
    if (const auto file = ws->selectedFileURL(); file && file->isLocalFile())
        env.documentFolder = QFileInfo(file->toLocalFile()).absolutePath();
    Export::exportPDF(ws->text(), env);
}

void VeltoApp::editCommand(MainWindow *window, const QString &key)
{
    if (!window)
        return;
    // The text fields and the editor share the slot names; the preview has its page actions.
    struct Edit
    {
        const char *slot;
        QWebEnginePage::WebAction webAction;
    };
    static const QHash<QString, Edit> edits {
        {QStringLiteral("edit.undo"), {"undo", QWebEnginePage::Undo}},
        {QStringLiteral("edit.redo"), {"redo", QWebEnginePage::Redo}},
        {QStringLiteral("edit.cut"), {"cut", QWebEnginePage::Cut}},
        {QStringLiteral("edit.copy"), {"copy", QWebEnginePage::Copy}},
        {QStringLiteral("edit.paste"), {"paste", QWebEnginePage::Paste}},
        {QStringLiteral("edit.selectAll"), {"selectAll", QWebEnginePage::SelectAll}},
    };
    if (const auto edit = edits.constFind(key); edit != edits.constEnd()) {
        QWidget *target = window->focusWidget();
        if (qobject_cast<QPlainTextEdit *>(target) || qobject_cast<QLineEdit *>(target)) {
            QMetaObject::invokeMethod(target, edit->slot);
            return;
        }
        for (QWidget *w = target; w; w = w->parentWidget()) {
            if (auto *web = qobject_cast<QWebEngineView *>(w)) {
                web->triggerPageAction(edit->webAction);
                return;
            }
        }
        return;
    }
    using Finder = VeltoTextView::TextFinderAction;
    static const QHash<QString, Finder> finds {
        {QStringLiteral("edit.find"), Finder::showFindInterface},
        {QStringLiteral("edit.findNext"), Finder::nextMatch},
        {QStringLiteral("edit.findPrevious"), Finder::previousMatch},
        {QStringLiteral("edit.replace"), Finder::showReplaceInterface},
    };
    if (const auto find = finds.constFind(key); find != finds.constEnd())
        window->content()->editorView()->editor()->textView()->performTextFinderAction(*find);
}

// ---- settings, about, legal

void VeltoApp::showAbout()
{
    const QVariantMap info = AboutView::applicationInfo();
    auto *about = new AboutView(AboutView::stringOrDash(info, QStringLiteral("version")),
                                AboutView::stringOrDash(info, QStringLiteral("build")));
    about->setAttribute(Qt::WA_DeleteOnClose);
    centreOnScreen(about);
    about->show();
    about->raise();
    about->activateWindow();
}

SettingsView *VeltoApp::settingsWindow()
{
    if (!m_settingsWindow) {
        SettingsView::Services services {m_services.settings, m_services.aiSettings,
                                         m_services.debugServer, m_services.syncAdapter,
                                         m_services.makeSyncSettings};
        services.clock = m_services.clock.get();
        m_settingsWindow
            = new SettingsView(SettingsView::defaultFonts(), *m_services.navigation, services);
        centreOnScreen(m_settingsWindow);
    }
    return m_settingsWindow;
}

void VeltoApp::openSettings()
{
    SettingsView *window = settingsWindow();
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}

void VeltoApp::openSettings(SettingsTab tab)
{
    m_services.navigation->setSelectedTab(tab);
    openSettings();
}

void VeltoApp::setActiveLegalInfo(std::optional<LegalInfoType> type)
{
    if (m_activeLegalInfo == type)
        return;
    m_activeLegalInfo = type;
    emit activeLegalInfoChanged();
}

void VeltoApp::showLegalInfo(LegalInfoType type)
{
    // One legal text at a time, over the window it was asked for.
    if (m_legalWindow) {
        m_legalWindow->disconnect(this);
        m_legalWindow->close();
    }
    setActiveLegalInfo(type);
    QWidget *parent = focusedWindow();
    if (!parent && !mainWindows().isEmpty())
        parent = mainWindows().constFirst();
    auto *dialog = new LegalInfoView(type, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    connect(dialog, &QDialog::finished, this, [this] { setActiveLegalInfo(std::nullopt); });
    m_legalWindow = dialog;
    dialog->open();
}

void VeltoApp::presentLegalAcceptance(MainWindow &window)
{
    auto *dialog = new LegalAcceptanceView(
        *m_services.defaults,
        [this] {
            // Accepted in one window: the question goes away in every window.
            for (const auto &open : QList(m_acceptanceDialogs)) {
                if (open)
                    open->dismiss();
            }
            m_acceptanceDialogs.clear();
        },
        [this] { requestQuit(); }, &window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    m_acceptanceDialogs.append(dialog);
    dialog->open();
}

QList<LegalAcceptanceView *> VeltoApp::legalAcceptanceDialogs() const
{
    return stillOpen(m_acceptanceDialogs);
}

void VeltoApp::setLegalAcceptancePresenter(std::function<void(MainWindow &)> presenter)
{
    m_legalPresenter = std::move(presenter);
}

bool VeltoApp::hasAcceptedLegal() const
{
    return m_services.defaults->boolValue(hasAcceptedLegalKey);
}

// ---- quitting

QCoro::Task<bool> VeltoApp::confirmUnsavedChanges()
{
    for (const QPointer<MainWindow> &window : QList(m_windows)) {
        if (!window || !window->workspace().isModified())
            continue;
        // Bring the window up so the user sees which document is meant.
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
        WorkspaceState &ws = window->workspace();
        const auto file = ws.selectedFileURL();
        const QString name
            = file ? file->fileName() : L10n::text(QStringLiteral("unsaved.untitled"));
        const auto choice = co_await ShellDialogs::askAboutUnsavedChanges(window, name);
        if (choice == ShellDialogs::UnsavedChoice::cancel || !window)
            co_return false;
        if (choice == ShellDialogs::UnsavedChoice::discard)
            continue;
        // Save: a titled document is written at once; an untitled one waits for its panel.
        bool saved = false;
        if (ws.selectedFileURL()) {
            saved = ws.save();
        } else {
            QPointer<WorkspaceState> guard(&ws);
            auto saving = ws.saveAs();
            saved = co_await saving;
            saved = saved && guard;
        }
        if (!saved || !window || window->workspace().isModified())
            co_return false;
    }
    co_return true;
}

QCoro::Task<bool> VeltoApp::requestQuit()
{
    // One question round at a time: a second Ctrl+Q while asking does nothing.
    if (m_askingToQuit || m_quitting)
        co_return false;
    m_askingToQuit = true;
    QPointer<VeltoApp> self(this);
    const bool confirmed = co_await confirmUnsavedChanges();
    if (!self)
        co_return false;
    m_askingToQuit = false;
    if (!confirmed)
        co_return false;
    m_quitting = true;
    for (MainWindow *w : mainWindows())
        w->setClosesForReal(true);
    // The acceptance question refuses to be closed; left open it would refuse the quit too.
    for (const auto &open : QList(m_acceptanceDialogs)) {
        if (open)
            open->dismiss();
    }
    m_acceptanceDialogs.clear();
    m_terminate();
    co_return true;
}

void VeltoApp::quitRefused()
{
    // Still running: a window refused its close event. The next quit must be able to try again,
    // and closing a main window minimises it again.
    m_quitting = false;
    for (MainWindow *w : mainWindows())
        w->setClosesForReal(false);
}

void VeltoApp::commitData(QSessionManager &manager)
{
    // The session is ending (log out, shut down): ask about unsaved text when the session
    // manager lets us, and cancel the shutdown if the user says so.
    bool anyModified = false;
    for (MainWindow *w : mainWindows())
        anyModified = anyModified || w->workspace().isModified();
    if (anyModified && manager.allowsInteraction()) {
        const bool confirmed = QCoro::waitFor(confirmUnsavedChanges());
        manager.release();
        if (!confirmed) {
            manager.cancel();
            return;
        }
    }
    m_quitting = true;
    for (MainWindow *w : mainWindows())
        w->setClosesForReal(true);
}

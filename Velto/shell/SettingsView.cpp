#include "Velto/shell/SettingsView.h"

#include "Velto/shell/AISettingsTab.h"
#include "Velto/shell/EditorSettingsTab.h"
#include "Velto/shell/ThemePickerView.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// Tabs in the order of SettingsTab.
struct TabItem
{
    SettingsTab tab;
    const char *labelKey;
    const char *symbol;
};
constexpr TabItem tabItems[] = {
    {SettingsTab::editor, "Editor", "pencil"},
    {SettingsTab::design, "Design", "paintpalette"},
    {SettingsTab::ai, "settings.ai", "brain"},
    {SettingsTab::api, "API", "network"},
    {SettingsTab::sync, "Sync", "arrow.triangle.2.circlepath"},
};

} // namespace

const QStringList &SettingsView::defaultFonts()
{
    // Kept as they are, also where a family is not installed: the stored name stays the
    // user's choice and the editor falls back to the monospaced system font.
    static const QStringList fonts {QStringLiteral("SF Mono"), QStringLiteral("Menlo"),
                                    QStringLiteral("Monaco"), QStringLiteral("Courier New"),
                                    QStringLiteral("System")};
    return fonts;
}

SettingsView::SettingsView(const QStringList &fonts, SettingsNavigation &nav,
                           const Services &services, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_nav(nav)
    , m_syncAdapter(services.syncAdapter)
    , m_makeSync(services.makeSyncSettings ? services.makeSyncSettings : &syncSettingsPlaceholder)
{
    setWindowTitle(L10n::text(QStringLiteral("settings.title")));
    setFixedSize(windowSize);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(false);
    layout->addWidget(m_tabs);

    const SyncSettingsFactory makeSync
        = services.makeSyncSettings ? services.makeSyncSettings : &syncSettingsPlaceholder;
    for (const TabItem &item : tabItems) {
        QWidget *page = nullptr;
        switch (item.tab) {
        case SettingsTab::editor:
            page = new EditorSettingsTab(*services.settings, fonts, m_tabs);
            break;
        case SettingsTab::design:
            page = new ThemePickerView(*services.settings, m_tabs);
            break;
        case SettingsTab::ai:
            page = new AISettingsTab(*services.aiSettings, m_tabs);
            break;
        case SettingsTab::api:
            page = new APISettingsTab({services.settings,
                                       services.server,
                                       {},
                                       services.delay,
                                       services.openURL,
                                       services.clock},
                                      m_tabs);
            break;
        case SettingsTab::sync:
            page = makeSync(*services.syncAdapter, m_tabs);
            break;
        }
        m_tabs->addTab(page, Icons::symbol(QString::fromLatin1(item.symbol)),
                       L10n::text(QString::fromLatin1(item.labelKey)));
    }

    connect(m_tabs, &QTabWidget::currentChanged, this,
            [this](int index) { m_nav.setSelectedTab(tabItems[index].tab); });
    connect(&m_nav, &SettingsNavigation::selectedTabChanged, this, &SettingsView::showSelectedTab);
    showSelectedTab();
}

QWidget *SettingsView::tab(SettingsTab tab) const
{
    return m_tabs->widget(int(tab));
}

QWidget *SettingsView::syncSettingsPlaceholder(MacSyncAdapter &, QWidget *parent)
{
    return new QWidget(parent);
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!std::exchange(m_shown, true) || event->spontaneous() || !m_syncAdapter)
        return;
    const int index = int(SettingsTab::sync);
    QWidget *old = m_tabs->widget(index);
    const QSignalBlocker block(m_tabs);
    m_tabs->insertTab(index, m_makeSync(*m_syncAdapter, m_tabs), m_tabs->tabIcon(index),
                      m_tabs->tabText(index));
    m_tabs->removeTab(index + 1);
    old->deleteLater();
    m_tabs->setCurrentIndex(int(m_nav.selectedTab()));
}

void SettingsView::showSelectedTab()
{
    const QSignalBlocker block(m_tabs);
    m_tabs->setCurrentIndex(int(m_nav.selectedTab()));
}

#include "SettingsFixture.h"

#include "Velto/shell/AISettingsTab.h"
#include "Velto/shell/APISettingsTab.h"
#include "Velto/shell/EditorSettingsTab.h"
#include "Velto/shell/SettingsView.h"
#include "Velto/shell/ThemePickerView.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "platform/Icons.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

using namespace settingstest;

namespace {

class Settings : public SettingsTest
{
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        sync = std::make_unique<MacSyncAdapter>(*defaults);
    }
    void TearDown() override
    {
        window.reset();
        sync.reset();
        SettingsTest::TearDown();
    }
    void open(SyncSettingsFactory makeSync = {})
    {
        window = std::make_unique<SettingsView>(SettingsView::defaultFonts(), nav,
                                                SettingsView::Services {settings.get(),
                                                                        ai.get(),
                                                                        server.get(),
                                                                        sync.get(),
                                                                        std::move(makeSync),
                                                                        delay.scheduler(),
                                                                        {}});
        window->show();
    }
    EditorSettingsTab *editorTab() const
    {
        return static_cast<EditorSettingsTab *>(window->tab(SettingsTab::editor));
    }
    QList<ThemeRow *> themeRows() const
    {
        return static_cast<ThemePickerView *>(window->tab(SettingsTab::design))->rows();
    }
    QString fontSizeText() const { return editorTab()->fontSizeStepper()->text(); }

    SettingsNavigation nav;
    std::unique_ptr<MacSyncAdapter> sync;
    std::unique_ptr<SettingsView> window;
};

TEST_F(Settings, fiveTabsFollowTheNavigationBothWaysAndTheSyncTabComesFromItsFactory)
{
    nav.setSelectedTab(SettingsTab::design);
    MacSyncAdapter *given = nullptr;
    open([&](MacSyncAdapter &adapter, QWidget *parent) {
        given = &adapter;
        return new QLabel(QStringLiteral("sync view"), parent);
    });
    EXPECT_EQ(window->size(), SettingsView::windowSize);
    QStringList labels;
    for (int i = 0; i < window->tabs()->count(); ++i) {
        labels << window->tabs()->tabText(i);
        EXPECT_FALSE(window->tabs()->tabIcon(i).isNull()) << i;
    }
    EXPECT_EQ(labels, (QStringList {"Editor", "Design", "KI", "API", "Sync"}));
    EXPECT_EQ(window->tabs()->currentIndex(), 1) << "opened on the requested tab";
    EXPECT_EQ(given, sync.get());
    EXPECT_TRUE(qobject_cast<QLabel *>(window->tab(SettingsTab::sync)));
    EXPECT_TRUE(qobject_cast<AISettingsTab *>(window->tab(SettingsTab::ai)));
    EXPECT_TRUE(qobject_cast<APISettingsTab *>(window->tab(SettingsTab::api)));

    QSignalSpy changes(&nav, &SettingsNavigation::selectedTabChanged);
    nav.open(SettingsTab::ai);
    EXPECT_EQ(window->tabs()->currentIndex(), 2);
    nav.setSelectedTab(SettingsTab::ai);
    EXPECT_EQ(changes.size(), 1) << "the same tab again notifies nobody";
    window->tabs()->setCurrentIndex(3);
    EXPECT_EQ(nav.selectedTab(), SettingsTab::api);
}

TEST_F(Settings, showingTheWindowWritesNoSetting)
{
    settings->setFontSize(14.5);
    ai->setProvider(AIProviderType::ollama);
    ai->setModel(QStringLiteral("x"));
    forgetStoreFile();
    open();
    for (int i = 0; i < window->tabs()->count(); ++i) {
        window->tabs()->setCurrentIndex(i);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(storeWasWritten());
    EXPECT_EQ(server->listener(), nullptr);
}

TEST_F(Settings, fontSizeStepsByWholePointsWithinTenToTwentyEight)
{
    settings->setFontSize(14.5);
    open();
    FontSizeStepper *stepper = editorTab()->fontSizeStepper();
    EXPECT_EQ(fontSizeText(), QStringLiteral("14 pt"));
    QTest::keyClick(stepper, Qt::Key_Up);
    EXPECT_EQ(settings->fontSize(), 15.5);
    EXPECT_EQ(fontSizeText(), QStringLiteral("15 pt"));
    settings->setFontSize(27.5);
    QTest::keyClick(stepper, Qt::Key_Up);
    EXPECT_EQ(settings->fontSize(), 28);
    QTest::keyClick(stepper, Qt::Key_Up);
    EXPECT_EQ(settings->fontSize(), 28);
    settings->setFontSize(10);
    QTest::keyClick(stepper, Qt::Key_Down);
    EXPECT_EQ(settings->fontSize(), 10);
    EXPECT_EQ(fontSizeText(), QStringLiteral("10 pt"));
}

TEST_F(Settings, fontAndWideModeAreWrittenByTheUserAndFollowOutsideChanges)
{
    open();
    QComboBox *font = editorTab()->fontPicker();
    QStringList fonts;
    for (int i = 0; i < font->count(); ++i)
        fonts << font->itemText(i);
    EXPECT_EQ(fonts, (QStringList {"SF Mono", "Menlo", "Monaco", "Courier New", "System"}));
    EXPECT_EQ(font->currentText(), QStringLiteral("SF Mono"));
    QTest::keyClick(font, Qt::Key_Down);
    EXPECT_EQ(settings->fontName(), QStringLiteral("Menlo"));
    editorTab()->wideModeToggle()->click();
    EXPECT_TRUE(AppSettings(*defaults).isWideMode());

    QSignalSpy fontChanges(settings.get(), &AppSettings::fontNameChanged);
    settings->setFontName(QStringLiteral("Fira Code"));
    EXPECT_EQ(font->currentIndex(), -1) << "a name not offered selects nothing";
    settings->setFontName(QStringLiteral("System"));
    EXPECT_EQ(font->currentText(), QStringLiteral("System"));
    settings->setIsWideMode(false);
    EXPECT_FALSE(editorTab()->wideModeToggle()->isChecked());
    EXPECT_EQ(fontChanges.size(), 2);
}

TEST_F(Settings, themeRowsMarkTheChosenThemeAndAClickChoosesIt)
{
    open();
    nav.setSelectedTab(SettingsTab::design);
    const QList<ThemeRow *> rows = themeRows();
    QStringList ids;
    for (ThemeRow *row : rows)
        ids << row->theme().id;
    ASSERT_EQ(ids, (QStringList {"standard", "sepia", "night"}));
    const auto marked = [&] {
        QStringList on;
        for (ThemeRow *row : rows) {
            if (row->isSelected())
                on << row->theme().id;
        }
        return on;
    };
    EXPECT_EQ(marked(), QStringList {"standard"});

    QTest::mouseClick(rows[1], Qt::LeftButton, {}, QPoint(rows[1]->width() - 5, 5));
    EXPECT_EQ(settings->themeID(), QStringLiteral("sepia"));
    EXPECT_EQ(marked(), QStringList {"sepia"});
    QSignalSpy themeChanges(settings.get(), &AppSettings::themeIDChanged);
    forgetStoreFile();
    QTest::mouseClick(rows[1], Qt::LeftButton);
    EXPECT_TRUE(storeWasWritten()) << "the same theme is stored again";
    EXPECT_TRUE(themeChanges.isEmpty()) << "but nobody is told";

    settings->setThemeID(QStringLiteral("night"));
    EXPECT_EQ(marked(), QStringList {"night"});
    settings->setThemeID(QStringLiteral("unknown"));
    EXPECT_TRUE(marked().isEmpty());
}

TEST(SettingsIcons, everySymbolTheSettingsAndLegalWindowsUseIsBundled)
{
    for (const char *name :
         {"pencil", "paintpalette", "brain", "network", "arrow.triangle.2.circlepath",
          "checkmark.circle.fill", "doc.text.magnifyingglass", "info.circle", "xmark.circle.fill",
          "doc.text.fill"})
        EXPECT_FALSE(Icons::symbol(QString::fromLatin1(name)).isNull()) << name;
}

} // namespace

TEST_F(Settings, theSyncTabIsBuiltAnewEachTimeTheWindowShows)
{
    int built = 0;
    open([&](MacSyncAdapter &, QWidget *parent) {
        ++built;
        return new QLineEdit(parent);
    });
    auto *first = static_cast<QLineEdit *>(window->tab(SettingsTab::sync));
    first->setText(QStringLiteral("12345"));
    window->hide();
    window->show();
    EXPECT_EQ(built, 2);
    auto *second = static_cast<QLineEdit *>(window->tab(SettingsTab::sync));
    EXPECT_NE(second, first);
    EXPECT_TRUE(second->text().isEmpty());
    EXPECT_EQ(window->tabs()->tabText(int(SettingsTab::sync)), QStringLiteral("Sync"));
}

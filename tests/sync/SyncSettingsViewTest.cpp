// The sync tab against the fake backend, offscreen.
#include "AdapterTestSupport.h"
#include "SyncTestSupport.h"

#include "Velto/sync/SyncSettingsView.h"
#include "platform/L10n.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;
using adaptertest::Device;
using testsupport::waitUntil;

namespace {

struct View : synctest::Fixture
{
    Device device {u"desk"_s};
    std::unique_ptr<SyncSettingsView> view;

    View()
    {
        device.adapter->state().setBackendURL(backend.baseURLString());
        view = std::make_unique<SyncSettingsView>(*device.adapter);
        view->show();
    }

    void pairWithTheFolder() { device.pair(backend.baseURLString(), folderId, folder.token); }

    QStringList deviceRows() const
    {
        QStringList rows;
        for (const QWidget *row :
             view->deviceSection()->findChildren<QWidget *>(QRegularExpression(u"^device-"_s))) {
            QStringList parts;
            for (const QLabel *l : row->findChildren<QLabel *>())
                parts << (l->text().isEmpty() ? l->objectName() : l->text());
            const QString text = parts.join(u" | "_s);
            rows << text;
        }
        return rows;
    }
};

} // namespace

TEST(SyncSettingsView, creatingAFolderSwitchesToThePairedLayout)
{
    View v;
    EXPECT_FALSE(v.view->showsPairedLayout());
    v.backend.failNext("POST", u"^/sync/folders$"_s, 500);
    v.view->createButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !v.view->statusMessage().isEmpty(); }));
    EXPECT_FALSE(v.view->showsPairedLayout());

    v.view->createButton()->click(); // an empty name field: the default name
    ASSERT_TRUE(waitUntil([&] { return v.view->showsPairedLayout(); }));
    ASSERT_TRUE(
        waitUntil([&] { return v.view->statusMessage() == L10n::text(u"sync.folderCreated"_s); }));
    const auto creates = v.backend.requests("POST", u"^/sync/folders$"_s);
    EXPECT_EQ(creates.back().json().value("name"_L1), u"Velto Dokumente"_s);
    EXPECT_EQ(v.device.adapter->state().folderId(), u"43"_s);
}

TEST(SyncSettingsView, theConfirmButtonWantsNineDigitsAndSendsOnlyThem)
{
    View v;
    v.pairWithTheFolder();
    ASSERT_TRUE(v.view->showsPairedLayout());
    QLineEdit *code = v.view->codeField();
    code->setText(u"12345678"_s);
    EXPECT_FALSE(v.view->confirmButton()->isEnabled());
    code->setText(u"123 456 789"_s);
    EXPECT_TRUE(v.view->confirmButton()->isEnabled());

    v.backend.respondNext("POST", u"/sync/pair/confirm$"_s, 200, {{u"status"_s, u"confirmed"_s}},
                          2);
    v.view->confirmButton()->click();
    ASSERT_TRUE(waitUntil([&] { return code->text().isEmpty(); }));
    EXPECT_EQ(v.view->statusMessage(), L10n::text(u"sync.devicePaired"_s));
    code->setText(u"1234-5678-9012"_s);
    v.view->confirmButton()->click();
    ASSERT_TRUE(waitUntil([&] { return code->text().isEmpty(); }));
    const auto confirms = v.backend.requests("POST", u"/sync/pair/confirm$"_s);
    ASSERT_EQ(confirms.size(), 2);
    EXPECT_EQ(confirms[0].json().value("code"_L1), u"123456789"_s);
    EXPECT_EQ(confirms[1].json().value("code"_L1), u"123456789012"_s);

    // A refused code stays in the field with the reason below it.
    code->setText(u"999999999"_s);
    v.view->confirmButton()->click();
    ASSERT_TRUE(waitUntil([&] { return v.backend.requestCount("POST", u"confirm$"_s) == 3; }));
    ASSERT_TRUE(
        waitUntil([&] { return v.view->statusMessage() != L10n::text(u"sync.devicePaired"_s); }));
    EXPECT_EQ(code->text(), u"999999999"_s);
}

TEST(SyncSettingsView, listsTheFolderDevices)
{
    View v;
    v.view->hide();
    v.pairWithTheFolder();
    v.backend.respondNext("GET", u"/devices$"_s, 200,
                          {{u"devices"_s,
                            QJsonArray {QJsonObject {{u"id"_s, 1},
                                                     {u"folder_id"_s, 42},
                                                     {u"device_name"_s, u"Tablet"_s},
                                                     {u"device_type"_s, u"ipad"_s},
                                                     {u"paired_at"_s, u"2024-05-01"_s}},
                                        QJsonObject {{u"id"_s, 2},
                                                     {u"folder_id"_s, 42},
                                                     {u"device_name"_s, u"Big one"_s},
                                                     {u"device_type"_s, u"iPad"_s}}}}});
    v.view->show(); // the list loads each time the paired layout comes on screen
    ASSERT_TRUE(waitUntil([&] { return v.view->devices().size() == 2; }));
    EXPECT_TRUE(v.view->deviceSection()->isVisibleTo(v.view.get()));
    EXPECT_EQ(v.deviceRows(),
              (QStringList {u"ipad | Tablet | 2024-05-01"_s, u"desktopcomputer | Big one"_s}));

    // A list that fails to load shows no devices and no heading.
    v.backend.failNext("GET", u"/devices$"_s, 500);
    v.view->hide();
    v.view->show();
    ASSERT_TRUE(waitUntil([&] { return v.view->devices().isEmpty(); }));
    EXPECT_FALSE(v.view->deviceSection()->isVisibleTo(v.view.get()));
    EXPECT_TRUE(v.view->statusMessage().isEmpty());
}

TEST(SyncSettingsView, disconnectingForgetsThePairingAtOnce)
{
    View v;
    v.pairWithTheFolder();
    v.device.adapter->attach(*v.device.ws);
    ASSERT_TRUE(v.device.adapter->engine());
    v.backend.delayNext("POST", u"^/sync/folders$"_s, 200);
    v.view->createButton()->click(); // still under way at the disconnect
    v.view->disconnectButton()->click();
    EXPECT_FALSE(v.view->showsPairedLayout());
    EXPECT_TRUE(v.view->statusMessage().isEmpty());
    EXPECT_FALSE(v.device.adapter->engine());
    EXPECT_FALSE(v.device.adapter->liveEngine());
    EXPECT_FALSE(SyncState(*v.device.defaults).isPaired());
    // What finishes later may set the status line again.
    ASSERT_TRUE(waitUntil([&] { return !v.view->statusMessage().isEmpty(); }));

    // A view closed while its action runs is left alone.
    v.backend.delayNext("POST", u"^/sync/folders$"_s, 100);
    v.view->createButton()->click();
    v.view.reset();
    ASSERT_TRUE(waitUntil([&] { return v.backend.folder(44).has_value(); }));
}

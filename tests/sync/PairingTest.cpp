#include "SyncTestSupport.h"

#include "core/sync/PairingService.h"

#include "support/LogCapture.h"

#include <QSignalSpy>

using namespace std::chrono_literals;

using namespace synctest;
using PState = PairingService::PairingState;

namespace {

struct PairingFixture : Fixture
{
    PairingFixture() { clock->holdWaits(true); }
    int statusPolls() const { return backend.requestCount("GET", "^/sync/pair/status$"); }
};

} // namespace

TEST(PairingService, shortLifetimesExpireWithoutPolling)
{
    for (qint64 lifetime : {1, 0, -3}) {
        PairingFixture f;
        f.backend.setPairExpiresIn(lifetime);
        PairingService service(f.client());
        run(service.requestPairing(QStringLiteral("pad"), QStringLiteral("tablet")));
        EXPECT_EQ(service.pairingState(), PState::expired()) << lifetime;
        EXPECT_EQ(f.statusPolls(), 0);
        EXPECT_TRUE(f.clock->waits().isEmpty());
        EXPECT_TRUE(service.pairingCode().has_value());
    }
}

TEST(PairingService, pollsEveryTwoSecondsUntilTheLifetimeIsUsed)
{
    PairingFixture f;
    f.backend.setPairExpiresIn(5);
    PairingService service(f.client());
    QSignalSpy states(&service, &PairingService::pairingStateChanged);
    run(service.requestPairing());
    ASSERT_TRUE(service.pairingCode().has_value());
    EXPECT_EQ(service.pairingState(), PState::waitingForConfirmation(*service.pairingCode()));
    EXPECT_GE(service.pairingCode()->size(), 9);
    for (int poll = 1; poll <= 2; ++poll) {
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->pendingWaits() == 1; }));
        f.clock->release();
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.statusPolls() == poll; }));
    }
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return service.pairingState() == PState::expired(); }));
    EXPECT_EQ(f.statusPolls(), 2);
    EXPECT_EQ(f.clock->waits(), (QList<std::chrono::milliseconds> {2s, 2s}));
    EXPECT_EQ(states.count(), 3); // requesting, waiting, expired
}

TEST(PairingService, confirmationEndsThePollEndToEnd)
{
    PairingFixture f;
    const FileSyncClient client = f.client();
    PairingService joining(client);
    PairingService holding(client);
    run(joining.requestPairing(QStringLiteral("Laptop"), QStringLiteral("desktop")));
    const QString code = *joining.pairingCode();

    f.clock->release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.statusPolls() == 1; }));
    EXPECT_EQ(joining.pairingState(), PState::waitingForConfirmation(code));

    run(holding.confirmPairing(code, f.folderId, f.folder.token));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->pendingWaits() == 1; }));
    f.clock->release();
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return joining.pairingState() == PState::confirmed(); }));

    const PairingService::Status status = run(joining.checkStatus());
    EXPECT_EQ(status.folderId, f.folderId);
    EXPECT_EQ(status.folderToken, f.folder.token);
    ASSERT_TRUE(status.deviceId.has_value());
    EXPECT_EQ(f.backend.devices(f.folder.id).first().name, QStringLiteral("Laptop"));
    // The client still talks to the backend it was made for, whatever backend_url said.
    EXPECT_EQ(joining.client().baseURL(), f.backend.baseURL());

    // A wrong code or wrong credentials are the caller's errors.
    EXPECT_TRUE(isFileSync(synctest::failure(holding.confirmPairing(QStringLiteral("000000000"),
                                                                    f.folderId, f.folder.token)),
                           FileSyncError(FileSyncError::Case::notFound)));
    EXPECT_TRUE(isFileSync(
        synctest::failure(holding.confirmPairing(code, f.folderId, QStringLiteral("nope"))),
        FileSyncError(FileSyncError::Case::unauthorized)));
    // Any status text counts as success.
    f.backend.respondNext("POST", "/pair/confirm$", 200,
                          QJsonObject {{QStringLiteral("status"), QStringLiteral("whatever")}});
    run(holding.confirmPairing(code, f.folderId, f.folder.token));
}

TEST(PairingService, folderIdInAPendingAnswerCountsAsConfirmed)
{
    PairingFixture f;
    PairingService service(f.client());
    run(service.requestPairing());
    f.backend.respondNext("GET", "/pair/status$", 200,
                          QJsonObject {{QStringLiteral("status"), QStringLiteral("pending")},
                                       {QStringLiteral("folder_id"), QStringLiteral("42")}});
    f.clock->release();
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return service.pairingState() == PState::confirmed(); }));
}

TEST(PairingService, notFoundExpiresOtherFailuresAreRetried)
{
    PairingFixture f;
    PairingService service(f.client());
    run(service.requestPairing());
    f.backend.failNext("GET", "/pair/status$", 500);
    f.clock->release();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return f.statusPolls() == 1 && f.clock->pendingWaits() == 1; }));
    EXPECT_EQ(service.pairingState().kind, PState::Kind::waitingForConfirmation);
    f.clock->release();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return f.statusPolls() == 2 && f.clock->pendingWaits() == 1; }));
    f.backend.failNext("GET", "/pair/status$", 404);
    f.clock->release();
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return service.pairingState() == PState::expired(); }));
    EXPECT_EQ(f.statusPolls(), 3);
    EXPECT_EQ(f.clock->pendingWaits(), 0);
}

TEST(PairingService, cancelStopsThePollForGood)
{
    PairingFixture f;
    PairingService service(f.client());
    run(service.requestPairing());
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->pendingWaits() == 1; }));
    QSignalSpy states(&service, &PairingService::pairingStateChanged);
    service.cancel();
    EXPECT_EQ(service.pairingState(), PState::idle());
    EXPECT_FALSE(service.pairingCode().has_value());
    EXPECT_FALSE(service.pollSecret().has_value());
    EXPECT_FALSE(service.hasPollTask());
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->pendingWaits() == 0; }));
    EXPECT_EQ(f.statusPolls(), 0);
    EXPECT_EQ(states.count(), 1);

    // checkStatus needs a poll secret.
    f.backend.clearRequests();
    const SyncFailure failure = synctest::failure(service.checkStatus());
    ASSERT_TRUE(failure.syncError().has_value());
    EXPECT_EQ(*failure.syncError(), SyncError::notPaired());
    EXPECT_TRUE(f.backend.requests().isEmpty());
}

TEST(PairingService, failedRequestShowsErrorWhileTheEarlierPollGoesOn)
{
    PairingFixture f;
    PairingService service(f.client());
    run(service.requestPairing());
    const QString code = *service.pairingCode();
    f.backend.failNext("POST", "/pair/request$", 503);
    run(service.requestPairing());
    EXPECT_EQ(service.pairingState(), PState::error(QStringLiteral("Server error (503)")));
    EXPECT_EQ(service.pairingCode(), code);

    ASSERT_TRUE(f.backend.confirmPairingCode(code, f.folder.id));
    f.clock->release();
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return service.pairingState() == PState::confirmed(); }));
}

TEST(PairingService, checkStatusWithoutCredentialsIsNotPaired)
{
    PairingFixture f;
    PairingService service(f.client());
    run(service.requestPairing());
    const SyncFailure failure = synctest::failure(service.checkStatus());
    ASSERT_TRUE(failure.syncError().has_value());
    EXPECT_EQ(*failure.syncError(), SyncError::notPaired());
}

TEST(PairingService, createFolderSendsNameAndDeviceOnly)
{
    PairingFixture f;
    PairingService service(f.client());
    const CreateFolderResponse created
        = run(service.createFolder(QStringLiteral("Docs"), QStringLiteral("mac")));
    EXPECT_EQ(created.name, QStringLiteral("Docs"));
    EXPECT_EQ(f.backend.requests().last().json(),
              (QJsonObject {{QStringLiteral("name"), QStringLiteral("Docs")},
                            {QStringLiteral("source_device_name"), QStringLiteral("mac")}}));
    EXPECT_EQ(service.pairingState(), PState::idle());
}

TEST(PairingService, nothingIsLoggedAndDestroyingCancelsThePoll)
{
    PairingFixture f;
    testsupport::LogCapture capture;
    QString secret;
    {
        PairingService service(f.client());
        run(service.requestPairing());
        secret = *service.pollSecret();
        f.clock->release();
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return f.statusPolls() == 1 && f.clock->pendingWaits() == 1; }));
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.clock->pendingWaits() == 0; }));
    EXPECT_EQ(f.statusPolls(), 1);
    EXPECT_FALSE(capture.contains(secret));
    EXPECT_TRUE(capture.lines().isEmpty());
}

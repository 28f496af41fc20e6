#include "ModelFakes.h"

#include "platform/Paths.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

namespace modeltest {

std::optional<QByteArray> FakeBookmarks::make(const QUrl &url)
{
    if (failMake)
        return std::nullopt;
    ++made;
    return "fake:" + QByteArray::number(made) + ":" + pathOf(url).toUtf8();
}

std::optional<Bookmarks::Resolved> FakeBookmarks::resolve(const QByteArray &bookmark)
{
    if (failResolve || !bookmark.startsWith("fake:"))
        return std::nullopt;
    const qsizetype colon = bookmark.indexOf(':', 5);
    if (colon < 0)
        return std::nullopt;
    return Resolved {QUrl::fromLocalFile(QString::fromUtf8(bookmark.mid(colon + 1))), reportStale};
}

bool FakeBookmarks::startAccess(const QUrl &url)
{
    started.append(url);
    return !refuseAccess;
}

void FakeBookmarks::stopAccess(const QUrl &url)
{
    stopped.append(url);
}

void ModelTest::SetUp()
{
    ASSERT_TRUE(tmp.isValid());
    QDir(tmp.path()).mkpath(QStringLiteral("docs"));
    defaults = std::make_unique<Defaults>(tmp.filePath(QStringLiteral("config/defaults.json")));
    now = QDateTime(QDate(2024, 3, 20), QTime(12, 0));
    history = std::make_unique<HistoryStore>(*defaults, bookmarks, [this] { return now; });
    ws = makeWorkspace();
}

void ModelTest::TearDown()
{
    ws.reset();
    history.reset();
}

std::unique_ptr<WorkspaceState> ModelTest::makeWorkspace()
{
    return std::make_unique<WorkspaceState>(
        WorkspaceState::Services {history.get(), defaults.get(), &panels});
}

QString ModelTest::docPath(const QString &relative) const
{
    return tmp.filePath(QStringLiteral("docs/") + relative);
}

QUrl ModelTest::docURL(const QString &relative) const
{
    return QUrl::fromLocalFile(docPath(relative));
}

bool ModelTest::write(const QString &relative, const QByteArray &bytes) const
{
    return testsupport::writeFile(docPath(relative), bytes);
}

QByteArray ModelTest::read(const QString &relative) const
{
    return testsupport::readFile(docPath(relative));
}

bool ModelTest::waitForTree()
{
    QSignalSpy spy(ws.get(), &WorkspaceState::fileTreeReloaded);
    return spy.wait(10000);
}

} // namespace modeltest

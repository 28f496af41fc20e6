#include "Velto/model/WorkspaceState.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int topFolders = 20;
constexpr int subFoldersEach = 24; // 20 + 20 × 24 = 500 folders
constexpr int filesPerFolder = 20; // 500 × 20 = 10,000 files

// One generated tree for the whole run: 500 folders on two levels, 20 files in each. A static
// object, so the 10,000 files are removed again when the program ends.
const QTemporaryDir &tree()
{
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        auto d = std::make_unique<QTemporaryDir>();
        auto fill = [](const QString &folder) {
            QDir().mkpath(folder);
            for (int f = 0; f < filesPerFolder; ++f) {
                QFile file(folder + QStringLiteral("/note %1.md").arg(f));
                file.open(QIODevice::WriteOnly);
                file.write("# note\n");
            }
        };
        for (int t = 0; t < topFolders; ++t) {
            const QString top = d->filePath(QStringLiteral("Folder %1").arg(t));
            fill(top);
            for (int s = 0; s < subFoldersEach; ++s)
                fill(top + QStringLiteral("/Sub %1").arg(s));
        }
        return d;
    }();
    return *dir;
}

int countFiles(const QList<FileNode> &nodes)
{
    int n = 0;
    for (const FileNode &node : nodes)
        n += node.children ? countFiles(*node.children) : 1;
    return n;
}

void BM_ScanDirectory(benchmark::State &state)
{
    const QUrl folder = QUrl::fromLocalFile(tree().path());
    int files = 0;
    for (auto _ : state) {
        const QList<FileNode> nodes = WorkspaceState::scanDirectory(folder);
        files = countFiles(nodes);
        benchmark::DoNotOptimize(nodes);
    }
    state.counters["files"] = files;
    state.counters["folders"] = topFolders * (1 + subFoldersEach);
    state.SetLabel("target <= 150 ms per scan of 10,000 files");
}
BENCHMARK(BM_ScanDirectory)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole reload: background scan, hand-over to the main thread and the comparison with the
// tree already shown (unchanged, so nothing is notified).
void BM_ReloadFileTree(benchmark::State &state)
{
    WorkspaceState workspace;
    workspace.setFolderURL(QUrl::fromLocalFile(tree().path()));
    for (auto _ : state) {
        QEventLoop loop;
        QObject::connect(&workspace, &WorkspaceState::fileTreeReloaded, &loop, &QEventLoop::quit);
        workspace.reloadFileTree();
        loop.exec();
    }
    state.counters["files"] = countFiles(workspace.fileTree());
}
BENCHMARK(BM_ReloadFileTree)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

#include "core/model/FolderScan.h"

#include "platform/Paths.h"

#include <QCollator>
#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <vector>

namespace {

constexpr int maxScanDepth = 7;

struct ScanEntry
{
    QString name;
    QString path;
    bool isDirectory;
};

QList<FileNode> scanFolder(const QString &path, int depth, const QCollator &collator)
{
    if (depth > maxScanDepth)
        return {};
    const QSet<QString> &excluded = FolderScan::excludedNames();
    std::vector<ScanEntry> entries;
    // Without QDir::Hidden the listing skips names beginning with "."; QDir::System keeps
    // broken links, FIFOs and sockets, which are listed as files.
    QDirIterator it(path, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    const QString prefix = path.endsWith(u'/') ? path : path + u'/';
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        QString name = info.fileName();
        if (excluded.contains(name))
            continue;
        // A link is never followed: a link to a folder is listed as a file.
        const bool isDirectory = !info.isSymLink() && info.isDir();
        QString entryPath = prefix + name;
        entries.push_back({std::move(name), std::move(entryPath), isDirectory});
    }
    std::sort(entries.begin(), entries.end(), [&](const ScanEntry &a, const ScanEntry &b) {
        if (a.isDirectory != b.isDirectory)
            return a.isDirectory;
        const int order = collator.compare(a.name, b.name);
        if (order != 0)
            return order < 0;
        // Names equal to the collator keep a fixed order: that of their code points.
        return a.name < b.name;
    });
    QList<FileNode> nodes;
    nodes.reserve(qsizetype(entries.size()));
    for (ScanEntry &entry : entries) {
        std::optional<QList<FileNode>> children;
        if (entry.isDirectory)
            children = scanFolder(entry.path, depth + 1, collator);
        nodes.append(FileNode(QUrl::fromLocalFile(entry.path), std::move(entry.name),
                              entry.isDirectory, std::move(children)));
    }
    return nodes;
}

} // namespace

const QSet<QString> &FolderScan::excludedNames()
{
    static const QSet<QString> names {
        QStringLiteral("node_modules"), QStringLiteral(".git"),        QStringLiteral(".build"),
        QStringLiteral("DerivedData"),  QStringLiteral("__pycache__"), QStringLiteral(".svn"),
        QStringLiteral(".hg"),
    };
    return names;
}

QList<FileNode> FolderScan::scan(const QUrl &folder, int depth)
{
    if (depth > maxScanDepth || !folder.isLocalFile())
        return {};
    QCollator collator {QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    return scanFolder(pathOf(folder), depth, collator);
}

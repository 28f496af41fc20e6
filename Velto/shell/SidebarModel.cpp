#include "Velto/shell/SidebarModel.h"

#include "Velto/model/HistoryStore.h"
#include "Velto/model/WorkspaceState.h"
#include "core/model/SessionRestore.h"
#include "platform/Detached.h"
#include "platform/Paths.h"

#include <QFileInfo>

SidebarModel::SidebarModel(WorkspaceState &workspace, HistoryStore &history, Defaults &defaults,
                           QObject *parent)
    : QAbstractListModel(parent)
    , m_workspace(workspace)
    , m_history(history)
    , m_defaults(defaults)
{
    for (auto signal : {&HistoryStore::entriesChanged, &HistoryStore::existsStatusChanged})
        connect(&history, signal, this, &SidebarModel::rebuild);
    for (auto signal : {&WorkspaceState::expandedFolderIDChanged, &WorkspaceState::fileTreeChanged,
                        &WorkspaceState::selectedFileURLChanged})
        connect(&workspace, signal, this, &SidebarModel::rebuild);
    rebuild();
}

bool SidebarModel::showsEmptyState() const
{
    return m_history.entries().isEmpty();
}

QString SidebarModel::iconName(const QString &fileName)
{
    const QString extension = QFileInfo(fileName).suffix().toLower();
    if (extension == u"md" || extension == u"markdown" || extension == u"mdown")
        return QStringLiteral("doc.richtext");
    if (extension == u"txt")
        return QStringLiteral("doc.text");
    if (extension == u"swift")
        return QStringLiteral("swift");
    if (extension == u"json" || extension == u"yml" || extension == u"yaml")
        return QStringLiteral("doc.badge.gearshape");
    return QStringLiteral("doc");
}

std::vector<FlatNode> SidebarModel::flatten(const QList<FileNode> &nodes, int depth)
{
    // Iterative pre-order walk: a deep tree must not exhaust the stack.
    std::vector<FlatNode> result;
    std::vector<std::pair<const QList<FileNode> *, qsizetype>> stack {{&nodes, 0}};
    while (!stack.empty()) {
        auto &[list, index] = stack.back();
        if (index >= list->size()) {
            stack.pop_back();
            continue;
        }
        const FileNode &node = list->at(index++);
        const int level = depth + int(stack.size()) - 1;
        result.push_back({node, level});
        if (node.children)
            stack.emplace_back(&*node.children, 0);
    }
    return result;
}

void SidebarModel::rebuild()
{
    beginResetModel();
    m_rows.clear();
    const auto selected = m_workspace.selectedFileURL();
    const QString selectedPath = selected ? pathOf(*selected) : QString();
    const auto expandedID = m_workspace.expandedFolderID();
    const auto &exists = m_history.existsStatus();

    for (const auto &[group, entries] : m_history.groupedEntries()) {
        Row header;
        header.kind = Kind::sectionHeader;
        header.title = group.title();
        header.enabled = false;
        m_rows.push_back(header);
        for (const HistoryEntry &entry : entries) {
            Row row;
            row.kind = entry.isDirectory ? Kind::historyFolder : Kind::historyFile;
            row.title = entry.name();
            row.entryID = entry.id;
            row.isDirectory = entry.isDirectory;
            row.exists = exists.value(entry.id, false);
            const bool highlighted = entry.isDirectory ? expandedID == entry.id
                                                       : selected && selectedPath == entry.path;
            row.expanded = entry.isDirectory && highlighted;
            if (!row.exists) {
                row.iconName = QStringLiteral("exclamationmark.triangle.fill");
                row.warningIcon = true;
                row.foreground = Foreground::tertiary;
                row.opacity = 0.6;
            } else {
                row.iconName = entry.isDirectory
                    ? (highlighted ? QStringLiteral("folder.fill") : QStringLiteral("folder"))
                    : iconName(row.title);
                row.foreground = highlighted ? Foreground::primary : Foreground::secondary;
            }
            row.medium = highlighted;
            m_rows.push_back(row);

            if (!row.expanded)
                continue;
            for (const FlatNode &flat : flatten(m_workspace.fileTree())) {
                Row tree;
                tree.kind = Kind::treeRow;
                tree.title = flat.node.name;
                tree.url = flat.node.url;
                tree.isDirectory = flat.node.isDirectory;
                tree.iconName = flat.node.isDirectory ? QStringLiteral("folder.fill")
                                                      : iconName(flat.node.name);
                const bool isSelected = selected && *selected == flat.node.url;
                tree.foreground = isSelected ? Foreground::primary : Foreground::secondary;
                tree.medium = isSelected;
                tree.enabled = !flat.node.isDirectory;
                tree.indent = flat.depth * 16 + 8;
                m_rows.push_back(tree);
            }
        }
    }
    endResetModel();
    emit rebuilt();
}

void SidebarModel::activate(int index)
{
    if (index < 0 || index >= int(m_rows.size()))
        return;
    const Row row = m_rows.at(size_t(index));
    switch (row.kind) {
    case Kind::sectionHeader:
        return;
    case Kind::historyFile:
        if (!row.exists)
            return;
        if (const auto url = m_history.startAccess(*row.entryID))
            runDetached(m_workspace.openFile(*url), QStringLiteral("Opening a history file"));
        return;
    case Kind::historyFolder:
        if (!row.exists)
            return;
        if (row.expanded)
            closeFolder();
        else
            m_workspace.openFolder(*row.entryID);
        return;
    case Kind::treeRow:
        if (!row.isDirectory)
            runDetached(m_workspace.openFile(row.url), QStringLiteral("Opening a folder file"));
        return;
    }
}

void SidebarModel::closeFolder()
{
    // The document stays open and the folder's access is not ended.
    m_workspace.setExpandedFolderID(std::nullopt);
    m_workspace.setFolderURL(std::nullopt);
    m_workspace.setFileTree({});
    SessionRestore(m_defaults).setLastFolderPath(std::nullopt);
}

bool SidebarModel::hasContextMenu(const Row &row)
{
    return row.kind == Kind::historyFile || row.kind == Kind::historyFolder;
}

void SidebarModel::removeEntry(const QUuid &entryID)
{
    // The workspace keeps what it has open, even the folder of a removed entry.
    m_history.remove(entryID);
}

int SidebarModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant SidebarModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const Row &row = m_rows.at(size_t(index.row()));
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return row.title;
    case rowRole:
        return index.row();
    default:
        return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return Qt::NoItemFlags;
    return m_rows.at(size_t(index.row())).enabled ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

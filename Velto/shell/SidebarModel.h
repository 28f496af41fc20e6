#pragma once

#include "core/model/FileNode.h"
#include "core/model/HistoryDateGroup.h"

#include <QAbstractListModel>
#include <QUrl>
#include <QUuid>

#include <optional>
#include <vector>

class Defaults;
class HistoryStore;
class WorkspaceState;

// One row of the flattened folder tree.
struct FlatNode
{
    FileNode node;
    int depth = 0;
};

// The sidebar's rows, derived from the history and the window's workspace alone: section headers
// by age, history file and folder rows, and under the expanded folder's row the whole tree of the
// open folder. Rebuilt whenever one of the fields it reads changes; it keeps nothing else.
class SidebarModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum class Kind { sectionHeader, historyFile, historyFolder, treeRow };
    enum class Foreground { primary, secondary, tertiary };

    struct Row
    {
        Kind kind = Kind::sectionHeader;
        QString title;
        QString iconName;
        bool warningIcon = false; // the item is missing: the icon is drawn yellow
        Foreground foreground = Foreground::secondary;
        bool medium = false;
        double opacity = 1.0;
        bool enabled = true;
        int indent = 0; // leading padding in pixels
        std::optional<QUuid> entryID;
        QUrl url;
        bool exists = true;
        bool expanded = false;
        bool isDirectory = false;
    };

    // Custom data role carrying the row index into rows().
    static constexpr int rowRole = Qt::UserRole + 1;

    // The session store receives the closed folder ("lastFolderPath").
    SidebarModel(WorkspaceState &workspace, HistoryStore &history, Defaults &defaults,
                 QObject *parent = nullptr);

    const std::vector<Row> &rows() const { return m_rows; }
    // The empty state replaces the list while the history has no entries.
    bool showsEmptyState() const;

    // A plain click on the row.
    void activate(int row);
    // The row's context menu offers removal from the history.
    static bool hasContextMenu(const Row &row);
    void removeEntry(const QUuid &entryID);

    static QString iconName(const QString &fileName);
    static std::vector<FlatNode> flatten(const QList<FileNode> &nodes, int depth = 0);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    void rebuilt();

private:
    void rebuild();
    void closeFolder();

    WorkspaceState &m_workspace;
    HistoryStore &m_history;
    Defaults &m_defaults;
    std::vector<Row> m_rows;
};

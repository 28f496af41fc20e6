#include "core/model/FileNode.h"

#include "platform/Text.h"

#include <QHashFunctions>

FileNode::FileNode(QUrl url_, QString name_, bool isDirectory_,
                   std::optional<QList<FileNode>> children_)
    : url(std::move(url_))
    , name(std::move(name_))
    , isDirectory(isDirectory_)
    , children(std::move(children_))
{
}

bool operator==(const FileNode &a, const FileNode &b)
{
    if (a.url != b.url || !canonicallyEqual(a.name, b.name) || a.isDirectory != b.isDirectory)
        return false;
    if (a.children.has_value() != b.children.has_value())
        return false;
    return !a.children || *a.children == *b.children;
}

size_t qHash(const FileNode &node, size_t seed)
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, node.url);
    seed = combine(seed, node.name.normalized(QString::NormalizationForm_D));
    seed = combine(seed, node.isDirectory);
    if (!node.children)
        return combine(seed, 0);
    seed = combine(seed, 1);
    seed = combine(seed, node.children->size());
    for (const FileNode &child : *node.children)
        seed = combine(seed, qHash(child, 0));
    return seed;
}

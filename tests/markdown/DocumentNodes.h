#pragma once

#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownWalker.h"

#include <QString>

#include <vector>

inline std::vector<MarkdownNode> nodesOf(const MarkdownDocument &document, MarkdownNodeKind kind)
{
    std::vector<MarkdownNode> found;
    MarkdownWalker walker(document.root());
    while (walker.next()) {
        if (walker.entering() && walker.node().kind() == kind)
            found.push_back(walker.node());
    }
    return found;
}

inline MarkdownNode firstOf(const MarkdownDocument &document, MarkdownNodeKind kind)
{
    const auto nodes = nodesOf(document, kind);
    return nodes.empty() ? MarkdownNode() : nodes.front();
}

// The text a node's range covers, or "<none>".
inline QString covered(const MarkdownDocument &document, MarkdownNode node)
{
    const auto range = document.textRange(node);
    if (!range)
        return QStringLiteral("<none>");
    return document.text().mid(range->start, range->length());
}

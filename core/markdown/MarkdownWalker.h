#pragma once

#include "core/markdown/MarkdownNode.h"

struct cmark_iter;

// Depth-first walk over a subtree without recursion: trees can be tens of thousands of levels
// deep (nested lists, quotes, images), far beyond what the call stack survives.
//
// Every node is reported on entry; nodes that can have children are reported again on exit after
// their children. Leaf kinds (MarkdownNode::isLeaf) get an entry only. The root is reported too.
class MarkdownWalker
{
public:
    enum class Event { Enter, Exit };

    explicit MarkdownWalker(MarkdownNode root);
    ~MarkdownWalker();
    MarkdownWalker(const MarkdownWalker &) = delete;
    MarkdownWalker &operator=(const MarkdownWalker &) = delete;

    // Moves to the next event; false once the walk is over.
    bool next();
    MarkdownNode node() const { return m_node; }
    Event event() const { return m_event; }
    bool entering() const { return m_event == Event::Enter; }

    // Called on an entry: continue after the current node as if its subtree had been walked. Its
    // exit event is not reported.
    void skipChildren();

private:
    cmark_iter *m_iter = nullptr;
    MarkdownNode m_node;
    Event m_event = Event::Enter;
};

// Visits the descendants of `root` in document order, on entry only and without recursion: a
// lighter walk where exits are not needed. `visit(node)` returns whether to go into the node's
// children.
template<typename Visit> void visitDescendants(MarkdownNode root, Visit &&visit)
{
    MarkdownNode node = root.firstChild();
    while (node) {
        MarkdownNode child = visit(node) ? node.firstChild() : MarkdownNode();
        if (child) {
            node = child;
            continue;
        }
        while (node != root && !node.next())
            node = node.parent();
        node = node == root ? MarkdownNode() : node.next();
    }
}

#include "core/markdown/MarkdownWalker.h"

#include <cmark-gfm.h>

MarkdownWalker::MarkdownWalker(MarkdownNode root)
    : m_iter(root ? cmark_iter_new(root.raw()) : nullptr)
{
}

MarkdownWalker::~MarkdownWalker()
{
    if (m_iter)
        cmark_iter_free(m_iter);
}

bool MarkdownWalker::next()
{
    if (!m_iter)
        return false;
    const cmark_event_type event = cmark_iter_next(m_iter);
    if (event == CMARK_EVENT_DONE || event == CMARK_EVENT_NONE) {
        m_node = MarkdownNode();
        return false;
    }
    m_node = MarkdownNode(cmark_iter_get_node(m_iter));
    m_event = event == CMARK_EVENT_EXIT ? Event::Exit : Event::Enter;
    return true;
}

void MarkdownWalker::skipChildren()
{
    if (m_iter && m_node && m_event == Event::Enter)
        cmark_iter_reset(m_iter, m_node.raw(), CMARK_EVENT_EXIT);
}

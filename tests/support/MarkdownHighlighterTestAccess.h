#pragma once

#include "Velto/editor/MarkdownHighlighter.h"

// What tests and benchmarks read of a highlighter beyond its interface.
struct MarkdownHighlighterTestAccess
{
    // Blocks restyled because of the last change, the edited ones included (deferred ones too).
    static int lastRestyledBlocks(const MarkdownHighlighter &highlighter)
    {
        return highlighter.m_lastRestyled;
    }
};

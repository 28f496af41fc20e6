#pragma once

#include "Velto/editor/EditorController.h"

// What tests and benchmarks read of an editor controller beyond its interface.
struct EditorControllerTestAccess
{
    // Full restyles from a fresh parse so far (one per change of the text).
    static int highlightCount(const EditorController &controller)
    {
        return controller.m_highlightCount;
    }
};

#pragma once

#include "platform/TextBuffers.h"

// What tests and benchmarks read of text buffers beyond their interface.
struct TextBuffersTestAccess
{
    // Buffers kept for the next edits.
    static qsizetype spareCount(const TextBuffers &buffers)
    {
        return qsizetype(buffers.m_spares.size());
    }
};

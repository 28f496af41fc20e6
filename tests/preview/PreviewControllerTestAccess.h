#pragma once

#include "Velto/preview/PreviewController.h"

// What tests and benchmarks read of a controller beyond its interface.
struct PreviewControllerTestAccess
{
    // Body updates sent since the controller was created.
    static int swapCount(const PreviewController &controller) { return controller.m_swapCount; }
};

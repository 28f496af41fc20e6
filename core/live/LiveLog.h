#pragma once

#include <QLoggingCategory>

// The live editing channel's lines ("LiveSync: …") go to this category, not to standard output.
Q_DECLARE_LOGGING_CATEGORY(lcLiveSync)

#include "core/live/LiveLog.h"

Q_LOGGING_CATEGORY(lcLiveSync, "velto.livesync")

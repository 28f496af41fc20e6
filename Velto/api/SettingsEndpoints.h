#pragma once

#include "Velto/api/ApiHttp.h"

class AISettings;
class AppSettings;
class DebugServer;

// The theme, view-mode and AI-provider endpoints: they change process settings from outside,
// through the settings' own setters (which store and notify as a change in the settings window
// does). Body fields of the wrong JSON type count as missing.
namespace settingsendpoints {

ApiAnswer theme(AppSettings &settings, const ApiRequest &request);
ApiAnswer viewMode(AppSettings &settings, const ApiRequest &request);
ApiAnswer aiProvider(AISettings &ai, const ApiRequest &request);

void registerWith(DebugServer &server, AppSettings &settings, AISettings &ai);

} // namespace settingsendpoints

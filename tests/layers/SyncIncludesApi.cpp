// Compiled by the layers test with the include paths of the sync library: the model header must
// be found, the API header must not (the application's root registers the sync routes).
#include "Velto/model/WorkspaceState.h"

#include "Velto/api/DebugServer.h"

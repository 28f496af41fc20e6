// Compiled by the layers test with the include paths of the core libraries: the core header must
// be found, the application header must not.
#include "core/sync/SyncEngine.h"

#include "Velto/model/WorkspaceState.h"

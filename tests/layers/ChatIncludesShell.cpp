// Compiled by the layers test with the include paths of the chat library: the model header must
// be found, the shell header must not (the application's root wires the chat into the windows).
#include "Velto/model/ChatViewState.h"

#include "Velto/shell/EditorView.h"

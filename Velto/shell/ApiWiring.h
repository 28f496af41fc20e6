#pragma once

class DebugServer;
class QWebEngineView;
class WorkspaceState;

// What a main window hands to the local API: its workspace and its preview's web view, both held
// weakly by the server. The window shown last is the one the API serves and inspects.
void exposeWindowToApi(DebugServer &server, WorkspaceState &workspace, QWebEngineView *preview);

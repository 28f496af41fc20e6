#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

struct ExportEnvironment;
struct PreviewServices;
class QWidget;
class WorkspaceState;

// The dialogs the shell shows around documents: where file dialogs start, the export file
// dialogs, and the question about unsaved changes.
namespace ShellDialogs {

// The open document's folder, else the open folder, else the home folder.
QString startFolder(const WorkspaceState &workspace);

// The application's export environment (made from the services) with German dialog titles,
// starting in startFolder.
ExportEnvironment exportEnvironment(const QString &startFolder, const PreviewServices &services);

enum class UnsavedChoice { save, discard, cancel };

// Asks, window-modal over the window, whether to save the changes of the named document. The
// task ends when the user answered; closing the question counts as cancel.
QCoro::Task<UnsavedChoice> askAboutUnsavedChanges(QWidget *window, QString documentName);

} // namespace ShellDialogs

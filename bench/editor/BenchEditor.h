#pragma once

#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "platform/Defaults.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>

// An editor shown at 1000×700 over a workspace holding `text`, with settings of its own.
struct BenchEditor
{
    QTemporaryDir dir;
    Defaults defaults {dir.filePath(QStringLiteral("defaults.json"))};
    AppSettings settings {defaults};
    WorkspaceState workspace;
    std::unique_ptr<MarkdownTextView> view;

    explicit BenchEditor(const QString &text = QString())
    {
        workspace.setText(text);
        view = std::make_unique<MarkdownTextView>(workspace, settings);
        view->resize(1000, 700);
        view->show();
        QCoreApplication::processEvents();
    }
};

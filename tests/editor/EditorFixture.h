#pragma once

#include "Velto/editor/EditorController.h"
#include "Velto/editor/MarkdownTextView.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "platform/Defaults.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextCursor>

#include <memory>

// An editor bound to a fresh workspace and settings kept in a temporary folder.
struct EditorFixture
{
    QTemporaryDir dir;
    Defaults defaults {dir.filePath(QStringLiteral("defaults.json"))};
    AppSettings settings {defaults};
    WorkspaceState workspace;
    std::unique_ptr<MarkdownTextView> editor;

    explicit EditorFixture(const QString &text = QString())
    {
        workspace.setText(text);
        editor = std::make_unique<MarkdownTextView>(workspace, settings);
        editor->textView()->setAIConfiguredCheck([] { return true; });
        editor->resize(600, 300);
        editor->show();
        settle();
    }

    VeltoTextView *view() const { return editor->textView(); }
    EditorController *controller() const { return editor->controller(); }

    // Runs the queued work (the bridge's sync and its one-shot clearing).
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    void select(int start, int end) const
    {
        QTextCursor cursor(view()->document());
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        view()->setTextCursor(cursor);
    }
    int selectionStart() const { return view()->textCursor().selectionStart(); }
    int selectionEnd() const { return view()->textCursor().selectionEnd(); }
    QString selected() const { return view()->textCursor().selectedText(); }
    QString documentText() const
    {
        return view()->document()->toRawText().replace(QChar::ParagraphSeparator, u'\n');
    }
};

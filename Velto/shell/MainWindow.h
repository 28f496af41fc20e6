#pragma once

#include "Velto/shell/ShellServices.h"

#include <QMainWindow>
#include <QUrl>

class ContentView;
class WorkspaceState;

// One main window: its content with its own workspace, a title that follows the open document,
// and a close button that minimises. The window closes for real only while the application quits.
//
//     MainWindow window;            // or MainWindow(services) with test or benchmark services
//     window.show();
//     window.start();               // history, session, API server, sync
//
// With the live preview (the default), the program registers the preview's page scheme before it
// creates its QApplication (PageSchemeHandler::registerScheme); nothing else needs setting up.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(const ShellServices &services = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    static constexpr QSize defaultSize {1100, 700};

    ContentView *content() const { return m_content; }
    WorkspaceState &workspace() const;

    // The start-up sequence of the window (see ContentView::start).
    void start();

    // While set, a close request closes the window instead of minimising it.
    void setClosesForReal(bool closes) { m_closesForReal = closes; }
    bool closesForReal() const { return m_closesForReal; }

    // "Velto" or the open file's name, with the edited marker while the text differs from the
    // saved text.
    QString title() const;

signals:
    // The window became the active window or stopped being it.
    void activationChanged();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void refreshTitle();
    void reportUnreadable(const QUrl &url);

    ContentView *m_content;
    bool m_closesForReal = false;
};

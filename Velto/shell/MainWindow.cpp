#include "Velto/shell/MainWindow.h"

#include "Velto/model/WorkspaceState.h"
#include "Velto/shell/ContentView.h"
#include "platform/L10n.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMessageBox>

MainWindow::MainWindow(const ShellServices &services, QWidget *parent)
    : QMainWindow(parent)
    , m_content(new ContentView(services, this))
{
    setCentralWidget(m_content);
    resize(defaultSize);
    WorkspaceState &ws = workspace();
    for (auto signal : {&WorkspaceState::textChanged, &WorkspaceState::savedTextChanged,
                        &WorkspaceState::selectedFileURLChanged})
        connect(&ws, signal, this, &MainWindow::refreshTitle);
    connect(&ws, &WorkspaceState::chosenFileUnreadable, this, &MainWindow::reportUnreadable);
    refreshTitle();
}

void MainWindow::reportUnreadable(const QUrl &url)
{
    auto *box = new QMessageBox(
        QMessageBox::Warning, L10n::text(QStringLiteral("open.failedTitle")),
        L10n::format(QStringLiteral("open.failed"), {url.fileName()}), QMessageBox::Ok, this);
    box->setInformativeText(L10n::text(QStringLiteral("open.failedDetail")));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

MainWindow::~MainWindow() = default;

WorkspaceState &MainWindow::workspace() const
{
    return m_content->workspace();
}

void MainWindow::start()
{
    m_content->start();
}

QString MainWindow::title() const
{
    const WorkspaceState &ws = workspace();
    const auto file = ws.selectedFileURL();
    QString title = file ? file->fileName() : QStringLiteral("Velto");
    if (ws.isModified())
        title += QStringLiteral(" \u2014 ") + L10n::text(QStringLiteral("content.edited"));
    return title;
}

void MainWindow::refreshTitle()
{
    setWindowTitle(title());
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        emit activationChanged();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing would drop the window's workspace and its unsaved text; it only goes away when
    // the application quits, after the unsaved changes were dealt with.
    if (m_closesForReal) {
        event->accept();
        return;
    }
    event->ignore();
    showMinimized();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Shown again after it was started: serve this window's workspace again.
    if (m_content->isStarted())
        m_content->start();
}

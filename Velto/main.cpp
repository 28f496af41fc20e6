#include <QApplication>
#include <QLabel>
#include <QMainWindow>

#include "platform/L10n.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velto"));
    QApplication::setOrganizationName(QStringLiteral("Velto"));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Velto"));
    auto *label = new QLabel(L10n::text(QStringLiteral("app.placeholder")), &window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.resize(1100, 700);
    window.show();
    return app.exec();
}

// The program's entry: start-up guards (one copy per user, the update check), then the
// main window and the event loop. The program lives in the notification area; only
// the tray's "&Esci" ends the event loop.
#include "platform/platform.h"
#include "ui/dialog.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <memory>

int main(int argc, char *argv[])
{
    auto app = std::make_unique<QApplication>(argc, argv);
    // Relative on purpose: the application icon comes from the current directory, while
    // the tray icon is taken from the program's folder.
    QApplication::setWindowIcon(QIcon(QStringLiteral("seven.ico")));

    if (platform::isAnotherInstanceRunning()) {
        QMessageBox::warning(nullptr, QStringLiteral("Attenzione"),
            QStringLiteral("L'applicativo e' gia' in esecuzione!"), QMessageBox::Ok,
            QMessageBox::NoButton);
        return 1;
    }

    if (platform::updatesAvailable()) {
        const auto answer = QMessageBox::question(nullptr,
            QStringLiteral("Aggiornamenti disponibili"),
            QStringLiteral("Degli aggiornamenti sono disponibili. Volete aggiornare Tessarino?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        if (answer == QMessageBox::Yes)
            platform::launchUpdater();
    }

    QApplication::setQuitOnLastWindowClosed(false);

    auto window = std::make_unique<Dialog>();
    window->show();
    const int result = QApplication::exec();

    // The window (with its tray icon and store) goes before the application object.
    window.reset();
    app.reset();
    return result;
}

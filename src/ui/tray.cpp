// The tray icon of the main window and the four commands of its menu.
#include "ui/dialog.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>

namespace {

QIcon shippedIcon(const QString &fileName)
{
    return QIcon(QCoreApplication::applicationDirPath() + u'/' + fileName);
}

} // namespace

void Dialog::createActions()
{
    connettiAction = new QAction(shippedIcon(QStringLiteral("globe.ico")), tr("&Connetti"), this);
    connect(connettiAction, &QAction::triggered, this, &Dialog::handleConnetti);

    assistenzaAction
        = new QAction(shippedIcon(QStringLiteral("help.ico")), tr("&Assistenza"), this);
    connect(assistenzaAction, &QAction::triggered, this, &Dialog::richiediAssistenza);

    credenzialiAction
        = new QAction(shippedIcon(QStringLiteral("lock.ico")), tr("&Credenziali"), this);
    connect(credenzialiAction, &QAction::triggered, this, &Dialog::rendiVisibile);

    esciAction = new QAction(shippedIcon(QStringLiteral("exit.ico")), tr("&Esci"), this);
    connect(esciAction, &QAction::triggered, qApp, &QCoreApplication::quit);
}

void Dialog::createTrayIcon()
{
    trayIconMenu = new QMenu(this);
    trayIconMenu->addAction(connettiAction);
    trayIconMenu->addAction(assistenzaAction);
    trayIconMenu->addAction(credenzialiAction);
    trayIconMenu->addSeparator();
    trayIconMenu->addAction(esciAction);

    // Shown only at the end of the window's construction, once everything it offers
    // is in place.
    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayIconMenu);
    trayIcon->setIcon(shippedIcon(QStringLiteral("seven.ico")));
}

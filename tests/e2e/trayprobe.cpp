// Shows a tray icon (the file named by the first argument) on the current display and
// prints what Qt sees of the tray: "available <0|1> icon <0|1> geometry <x> <y> <w> <h>".
#include <QApplication>
#include <QDeadlineTimer>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QIcon image(QString::fromLocal8Bit(argv[1]));
    QSystemTrayIcon icon(image);
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    icon.show();
    // The host embeds the icon asynchronously: until then the icon sits unplaced at the
    // screen's origin.
    QDeadlineTimer deadline(10000);
    while (
        (icon.geometry().isEmpty() || icon.geometry().topLeft().isNull()) && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const QRect geometry = icon.geometry();
    QTextStream(stdout) << "available " << int(available) << " icon "
                        << int(!image.pixmap(22).isNull()) << " geometry " << geometry.x() << ' '
                        << geometry.y() << ' ' << geometry.width() << ' ' << geometry.height()
                        << '\n';
    return 0;
}

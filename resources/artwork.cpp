// Draws the program's icons and banner picture at build time, so that the artwork
// ships as ordinary files next to the executable: artwork <output folder>.
//
// Each icon is drawn on a 64 x 64 canvas and rendered at several sizes, which are
// gathered into one .ico file; the banner picture is a PNG with a transparent
// background that sits on the window's green banner.
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QtEndian>

#include <cstdio>
#include <functional>

namespace {

using Drawing = std::function<void(QPainter &)>;

const QList<int> iconSizes { 16, 24, 32, 48 };

QImage render(const Drawing &draw, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    draw(painter);
    return image;
}

// Qt's ico writer stores one image per file; the single-image files are merged here
// into one directory of several sizes (6-byte header, 16-byte entries, image data).
QByteArray iconFile(const Drawing &draw)
{
    QList<QByteArray> entries;
    QList<QByteArray> payloads;
    for (int size : iconSizes) {
        QByteArray single;
        QBuffer buffer(&single);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "ico");
        if (!writer.write(render(draw, size)))
            return {};
        const auto offset = qFromLittleEndian<quint32>(single.constData() + 6 + 12);
        entries << single.mid(6, 16);
        payloads << single.mid(offset);
    }

    QByteArray out(6, '\0');
    qToLittleEndian<quint16>(1, out.data() + 2); // type: icon
    qToLittleEndian<quint16>(static_cast<quint16>(entries.size()), out.data() + 4);
    quint32 offset = 6 + 16 * static_cast<quint32>(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        QByteArray entry = entries[i];
        qToLittleEndian<quint32>(static_cast<quint32>(payloads[i].size()), entry.data() + 8);
        qToLittleEndian<quint32>(offset, entry.data() + 12);
        offset += static_cast<quint32>(payloads[i].size());
        out += entry;
    }
    for (const QByteArray &payload : payloads)
        out += payload;
    return out;
}

QPen whitePen(qreal width)
{
    return QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void disc(QPainter &p, const QColor &top, const QColor &bottom)
{
    QLinearGradient fill(0, 2, 0, 62);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(QPen(bottom.darker(130), 2));
    p.setBrush(fill);
    p.drawEllipse(QRectF(3, 3, 58, 58));
}

// The program: a screen on a green tile.
void drawProgram(QPainter &p)
{
    QLinearGradient fill(0, 0, 0, 64);
    fill.setColorAt(0, QColor(0x4c, 0xa8, 0x14));
    fill.setColorAt(1, QColor(0x31, 0x82, 0x03));
    p.setPen(QPen(QColor(0x1f, 0x55, 0x02), 2));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(3, 3, 58, 58), 12, 12);

    p.setPen(whitePen(4));
    p.setBrush(QColor(255, 255, 255, 60));
    p.drawRoundedRect(QRectF(13, 15, 38, 26), 3, 3);
    p.drawLine(QPointF(32, 41), QPointF(32, 48));
    p.drawLine(QPointF(23, 49), QPointF(41, 49));
    // A small arrow on the screen: the way to the remote desktop.
    p.setPen(whitePen(3.5));
    p.drawLine(QPointF(22, 28), QPointF(40, 28));
    p.drawLine(QPointF(35, 23), QPointF(40, 28));
    p.drawLine(QPointF(35, 33), QPointF(40, 28));
}

// Connect: a globe.
void drawGlobe(QPainter &p)
{
    disc(p, QColor(0x4a, 0x9b, 0xe8), QColor(0x1d, 0x5f, 0xaa));
    p.setPen(whitePen(3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(22, 6, 20, 52));
    p.drawLine(QPointF(32, 5), QPointF(32, 59));
    p.drawLine(QPointF(5, 32), QPointF(59, 32));
    QPainterPath parallels;
    parallels.moveTo(10, 18);
    parallels.quadTo(32, 24, 54, 18);
    parallels.moveTo(10, 46);
    parallels.quadTo(32, 40, 54, 46);
    p.drawPath(parallels);
}

// Cancel: a cross on red.
void drawDelete(QPainter &p)
{
    disc(p, QColor(0xe8, 0x55, 0x4a), QColor(0xa8, 0x22, 0x1a));
    p.setPen(whitePen(7));
    p.drawLine(QPointF(21, 21), QPointF(43, 43));
    p.drawLine(QPointF(43, 21), QPointF(21, 43));
}

// Assistance: a question mark on blue.
void drawHelp(QPainter &p)
{
    disc(p, QColor(0x5b, 0x8d, 0xd6), QColor(0x2a, 0x52, 0x9a));
    QPainterPath mark;
    const QRectF bow(22, 13, 20, 19);
    mark.arcMoveTo(bow, 165);
    mark.arcTo(bow, 165, -225);
    mark.quadTo(32, 34, 32, 40);
    p.setPen(whitePen(6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(32, 49), 4, 4);
}

// Credentials: a padlock.
void drawLock(QPainter &p)
{
    QPainterPath shackle;
    shackle.moveTo(20, 30);
    shackle.lineTo(20, 22);
    shackle.arcTo(QRectF(20, 8, 24, 26), 180, -180);
    shackle.lineTo(44, 30);
    p.setPen(QPen(QColor(0x7a, 0x80, 0x88), 6, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shackle);

    QLinearGradient body(0, 28, 0, 60);
    body.setColorAt(0, QColor(0xf5, 0xc5, 0x2a));
    body.setColorAt(1, QColor(0xc8, 0x8a, 0x00));
    p.setPen(QPen(QColor(0x8a, 0x5e, 0x00), 2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(12, 28, 40, 32), 5, 5);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x32, 0x00));
    p.drawEllipse(QPointF(32, 40), 4.5, 4.5);
    p.drawRect(QRectF(30, 41, 4, 10));
}

// Quit: a power sign on dark red.
void drawExit(QPainter &p)
{
    disc(p, QColor(0xd0, 0x4a, 0x2a), QColor(0x8c, 0x1e, 0x0e));
    QPainterPath ring;
    const QRectF circle(17, 18, 30, 30);
    ring.arcMoveTo(circle, 125);
    ring.arcTo(circle, 125, 290);
    p.setPen(whitePen(5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(ring);
    p.drawLine(QPointF(32, 11), QPointF(32, 31));
}

// The banner picture: a desk screen linked to a row of servers, in white on the
// transparent background, for the right end of the green banner.
QImage banner()
{
    QImage image(150, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(255, 255, 255, 230);
    const QColor faint(255, 255, 255, 70);

    // The user's screen.
    p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(faint);
    p.drawRoundedRect(QRectF(8, 7, 34, 22), 2, 2);
    p.drawLine(QPointF(25, 29), QPointF(25, 34));
    p.drawLine(QPointF(17, 35), QPointF(33, 35));

    // The link.
    QPainterPath link;
    link.moveTo(48, 20);
    link.cubicTo(70, 2, 86, 38, 106, 20);
    p.setPen(QPen(ink, 2, Qt::DashLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(link);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(QPointF(48, 20), 3, 3);
    p.drawEllipse(QPointF(106, 20), 3, 3);

    // The hosted desktops: three server units.
    for (int i = 0; i < 3; ++i) {
        const QRectF unit(112, 5 + i * 10.5, 32, 8.5);
        p.setPen(QPen(ink, 2));
        p.setBrush(faint);
        p.drawRoundedRect(unit, 1.5, 1.5);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(QPointF(unit.right() - 5, unit.center().y()), 1.6, 1.6);
    }
    return image;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    return !data.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(data) == data.size()
        && file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: artwork <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "artwork: cannot create %s\n", argv[1]);
        return 1;
    }

    const QList<std::pair<const char *, Drawing>> icons {
        { "seven.ico", drawProgram },
        { "globe.ico", drawGlobe },
        { "delete.ico", drawDelete },
        { "help.ico", drawHelp },
        { "lock.ico", drawLock },
        { "exit.ico", drawExit },
    };
    for (const auto &[name, draw] : icons) {
        if (!writeFile(out.filePath(QString::fromLatin1(name)), iconFile(draw))) {
            std::fprintf(stderr, "artwork: cannot write %s\n", name);
            return 1;
        }
    }
    if (!banner().save(out.filePath(QStringLiteral("sfondo.png")), "PNG")) {
        std::fprintf(stderr, "artwork: cannot write sfondo.png\n");
        return 1;
    }
    return 0;
}

#include "ui/dialog.h"

#include "store/persistentdictionary.h"
#include "store/rememberedcredentials.h"
#include "ui/connectiontemplate.h"
#include "ui_dialog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QIcon>
#include <QMessageBox>

#include <cstdlib>

namespace {

const QString rememberedFlag = QStringLiteral("1");

QString bannerHtml(const QString &applicationFolder)
{
    return QStringLiteral("<html><head/><body style='padding: 5px;'>")
        + QStringLiteral("<table><tr><td width='50%'><strong style='color: white;'>Accesso "
                         "Remoto</strong></td><td width='50%' align='right'><img src='")
        + applicationFolder + QStringLiteral("/sfondo.png'/>")
        + QStringLiteral("</td></table></body></html>");
}

} // namespace

Dialog::Dialog(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DialogForm>())
    , rdpTemplate(QStringLiteral(""))
{
    ui->setupUi(this);

    createActions();
    createTrayIcon();
    createUserContext();

    const QString applicationFolder = QCoreApplication::applicationDirPath();

    auto *labelTop = findChild<QLabel *>(QStringLiteral("labelTop"));
    QPalette palette = labelTop->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(QStringLiteral("#318203"))));
    labelTop->setPalette(palette);
    QFont font;
    font.setFamily(QStringLiteral("Courier"));
    font.setPointSize(14);
    font.setWeight(QFont::Bold);
    font.setItalic(false);
    labelTop->setFont(font);
    labelTop->setTextFormat(Qt::RichText);
    labelTop->setText(bannerHtml(applicationFolder));

    const QString buttonStyle = QStringLiteral("text-align: left");
    connettiButton = findChild<QPushButton *>(QStringLiteral("connettiButton"));
    connettiButton->setIcon(QIcon(applicationFolder + QStringLiteral("/globe.ico")));
    connettiButton->setStyleSheet(buttonStyle);
    chiudiButton = findChild<QPushButton *>(QStringLiteral("chiudiButton"));
    chiudiButton->setIcon(QIcon(applicationFolder + QStringLiteral("/delete.ico")));
    chiudiButton->setStyleSheet(buttonStyle);

    dominioLineEdit = findChild<QLineEdit *>(QStringLiteral("dominioLineEdit"));
    utenteLineEdit = findChild<QLineEdit *>(QStringLiteral("utenteLineEdit"));
    passwordLineEdit = findChild<QLineEdit *>(QStringLiteral("passwordLineEdit"));
    memorizzaCredenzialiCheckBox
        = findChild<QCheckBox *>(QStringLiteral("memorizzaCredenzialiCheckBox"));

    const RememberedCredentials remembered = loadRememberedCredentials(*persistentDictionary);
    dominio = remembered.dominio;
    utente = remembered.utente;
    memorizza = remembered.memorizza;
    password = remembered.password;
    dominioLineEdit->setText(dominio);
    utenteLineEdit->setText(utente);
    passwordLineEdit->setText(password);
    memorizzaCredenzialiCheckBox->setChecked(memorizza == rememberedFlag);

    // Without its template no connection file can be written: the program cannot do
    // its one job, so it ends before any window or tray icon shows.
    const QString templatePath = connectionTemplatePath();
    if (!QFile::exists(templatePath)) {
        qDebug().noquote() << templatePath;
        QMessageBox::critical(nullptr, QStringLiteral("Attenzione"),
            QStringLiteral("Non e' stato trovato il file default.rdp"), QMessageBox::Ok,
            QMessageBox::NoButton);
        std::exit(EXIT_FAILURE);
    }
    rdpTemplate = readConnectionTemplate(templatePath);

    connect(connettiButton, &QPushButton::released, this, &Dialog::handleConnetti);
    connect(chiudiButton, &QPushButton::released, this, &QWidget::hide);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &Dialog::iconActivated);

    trayIcon->setVisible(true);
}

Dialog::~Dialog() = default;

void Dialog::createUserContext()
{
    // Neither result matters here: a failed load has told the user already, and a
    // store that cannot open its file keeps working from memory.
    userEnvironment = std::make_unique<UserEnvironment>();
    userEnvironment->load();
    persistentDictionary = new PersistentDictionary(*userEnvironment, this);
    persistentDictionary->Open();
}

void Dialog::showEvent(QShowEvent *)
{
    applyFocusRule();
}

void Dialog::reject()
{
    // The window is never closed for good: Escape, the close button and "Annulla"
    // leave the program in the notification area.
    hide();
}

void Dialog::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick)
        rendiVisibile();
}

void Dialog::rendiVisibile()
{
    setVisible(true);
    activateWindow();
    raise();
}

void Dialog::impostaCredenziali()
{
    rendiVisibile();
    applyFocusRule();
}

// The remembered values decide, not what the fields hold now: a field the user
// cleared and left does not move the focus at the next show.
void Dialog::applyFocusRule()
{
    QLineEdit *target = utenteLineEdit;
    if (dominio.isEmpty())
        target = dominioLineEdit;
    else if (utente.isEmpty())
        target = utenteLineEdit;
    else if (password.isEmpty())
        target = passwordLineEdit;
    target->setFocus(Qt::OtherFocusReason);
}

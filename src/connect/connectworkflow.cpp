// The Connect command of the main window: from the three credentials to a running
// Remote Desktop client, through the selector and the connection file.
#include "ui/dialog.h"

#include "connect/connectionfile.h"
#include "lookup/selectorclient.h"
#include "store/passwordprotection.h"
#include "store/persistentdictionary.h"
#include "store/rememberedcredentials.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLineEdit>
#include <QMessageBox>

namespace {

// The wait cursor from the end of the checks to the end of the run. It is taken back
// exactly once, before any message of the run and before the window is hidden.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { restore(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

    void restore()
    {
        if (m_active)
            QApplication::restoreOverrideCursor();
        m_active = false;
    }

private:
    bool m_active = true;
};

void showWarning(const QString &text)
{
    QMessageBox::warning(nullptr, QStringLiteral("Attenzione"), text, QMessageBox::Ok,
                         QMessageBox::NoButton);
}

void showCritical(const QString &text)
{
    QMessageBox::critical(nullptr, QStringLiteral("Attenzione"), text, QMessageBox::Ok,
                          QMessageBox::NoButton);
}

} // namespace

void Dialog::handleConnetti()
{
    const QString domain = dominioLineEdit->text().trimmed();
    const QString userName = utenteLineEdit->text().trimmed();
    const QString plainPassword = passwordLineEdit->text().trimmed();

    // Only the first empty field is reported; the window comes up with it focused.
    const struct
    {
        const QString &value;
        QLineEdit *field;
        const char *message;
    } required[] = {
        {domain, dominioLineEdit, "Impostare il dominio!"},
        {userName, utenteLineEdit, "Impostare l'utente!"},
        {plainPassword, passwordLineEdit, "Impostare la password!"},
    };
    for (const auto &check : required) {
        if (check.value.isEmpty()) {
            showWarning(QString::fromUtf8(check.message));
            setVisible(true);
            activateWindow();
            raise();
            check.field->setFocus(Qt::OtherFocusReason);
            return;
        }
    }

    WaitCursor cursor;
    const QString path = connectionFilePath(userEnvironment->profileFolder);
    if (!discardConnectionFile(path)) {
        cursor.restore();
        showCritical(QStringLiteral("Impossibile modificare le impostazioni dell'utente!"));
        rendiVisibile();
        return;
    }

    // Made before the server is known: the connection file needs it whether or not
    // the password is remembered.
    const QString protectedPassword = protectPassword(plainPassword);
    const bool remember = memorizzaCredenzialiCheckBox->isChecked();
    dominio = domain;
    utente = userName;
    memorizza = remember ? QStringLiteral("1") : QStringLiteral("");
    password = plainPassword;

    const TerminalServerAddress server = selectTerminalServer(userEnvironment.get(), userName);
    if (server.host.isEmpty()) {
        cursor.restore();
        showCritical(QStringLiteral("Impossibile identificare un server a cui potersi connettere!"));
        return;
    }

    saveRememberedCredentials(*persistentDictionary, domain, userName, memorizza,
                              protectedPassword, remember);

    // A file that was not written, or a client that did not start, is no success:
    // the user is told and gets the window back.
    if (!writeConnectionFile(path, rdpTemplate, domain, userName, protectedPassword)) {
        cursor.restore();
        showCritical(QStringLiteral("Impossibile modificare le impostazioni dell'utente!"));
        rendiVisibile();
        return;
    }
    if (!launchRemoteDesktopClient(path, server.host, server.port, domain, plainPassword)) {
        cursor.restore();
        showCritical(QStringLiteral("Impossibile avviare il client Desktop remoto!"));
        rendiVisibile();
        return;
    }

    cursor.restore();
    hide();
}

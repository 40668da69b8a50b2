// The main window: the credentials form, the hub that owns the tray icon, the user
// environment and the credential store, and the slots behind every user command.
#pragma once

#include "lookup/userenvironment.h"

#include <QDialog>
#include <QString>
#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QShowEvent;
class PersistentDictionary;

namespace Ui {
class DialogForm;
}

class Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);
    ~Dialog() override;

protected:
    void showEvent(QShowEvent *event) override;

public slots:
    void reject() override;

private slots:
    void handleConnetti();
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void rendiVisibile();
    void impostaCredenziali();
    void richiediAssistenza();

private:
    void createActions();
    void createTrayIcon();
    void createUserContext();
    void applyFocusRule();

    // Tests look at the window's state through this.
    friend struct DialogInspector;

    std::unique_ptr<Ui::DialogForm> ui;
    QPushButton *connettiButton = nullptr;
    QPushButton *chiudiButton = nullptr;
    std::unique_ptr<UserEnvironment> userEnvironment;
    PersistentDictionary *persistentDictionary = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayIconMenu = nullptr;
    QLineEdit *dominioLineEdit = nullptr;
    QLineEdit *utenteLineEdit = nullptr;
    QLineEdit *passwordLineEdit = nullptr;
    QCheckBox *memorizzaCredenzialiCheckBox = nullptr;
    QString dominio;
    QString utente;
    QString password;
    QString memorizza;
    QAction *connettiAction = nullptr;
    QAction *credenzialiAction = nullptr;
    QAction *assistenzaAction = nullptr;
    QAction *esciAction = nullptr;
    QString rdpTemplate;
};

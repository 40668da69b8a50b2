// The Connect command of the main window on the offscreen platform: the checks of the
// form, the loopback HTTPS selector, the remembered credentials, the connection file
// and a fake Remote Desktop client first on the PATH that records what it was given.
#include "lookup/userenvironment.h"
#include "store/passwordprotection.h"
#include "store/persistentdictionary.h"
#include "support/messageboxwatcher.h"
#include "support/selectorserver.h"
#include "support/testmain.h"
#include "ui/dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

struct DialogInspector
{
    static QString dominio(const Dialog &d) { return d.dominio; }
    static QString utente(const Dialog &d) { return d.utente; }
    static QString password(const Dialog &d) { return d.password; }
    static QString memorizza(const Dialog &d) { return d.memorizza; }
    static QString rdpTemplate(const Dialog &d) { return d.rdpTemplate; }
    static QString profileFolder(const Dialog &d) { return d.userEnvironment->profileFolder; }
    static void setProfileFolder(Dialog &d, const QString &folder)
    {
        d.userEnvironment->profileFolder = folder;
    }
    static PersistentDictionary &store(Dialog &d) { return *d.persistentDictionary; }
    static QLineEdit *dominioLineEdit(const Dialog &d) { return d.dominioLineEdit; }
    static QLineEdit *utenteLineEdit(const Dialog &d) { return d.utenteLineEdit; }
    static QLineEdit *passwordLineEdit(const Dialog &d) { return d.passwordLineEdit; }
    static QCheckBox *checkBox(const Dialog &d) { return d.memorizzaCredenzialiCheckBox; }
    static QPushButton *connettiButton(const Dialog &d) { return d.connettiButton; }
    static QAction *connettiAction(const Dialog &d) { return d.connettiAction; }
};

using I = DialogInspector;

namespace {

const QString kUserName = QStringLiteral("mario");
const QString kNoServer = QStringLiteral("Attenzione|Impossibile identificare un server a cui "
                                         "potersi connettere!");
const QString kCannotModify =
    QStringLiteral("Attenzione|Impossibile modificare le impostazioni dell'utente!");
const QString kCannotStart = QStringLiteral("Attenzione|Impossibile avviare il client Desktop "
                                            "remoto!");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QFile file(path);
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (executable)
        permissions |= QFileDevice::ExeOwner;
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()
           && file.setPermissions(permissions);
}

// Records, for every message box, whether the wait cursor was still set when it
// showed: the cursor must be back before the user is told anything.
class CursorAtBoxes : public QObject
{
public:
    CursorAtBoxes() { qApp->installEventFilter(this); }
    ~CursorAtBoxes() override { qApp->removeEventFilter(this); }
    QList<bool> waitCursorShown;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QMessageBox *>(watched))
            waitCursorShown << (QApplication::overrideCursor() != nullptr);
        return false;
    }
};

enum class Route { Slot, Button, TrayMenu };

} // namespace

Q_DECLARE_METATYPE(Route)

class TestConnectWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptyFieldsAreRefused_data();
    void emptyFieldsAreRefused();
    void undeletableOldFileStopsBeforeTheRequest();
    void failedLookupChangesNothingStored_data();
    void failedLookupChangesNothingStored();
    void successWritesSavesStartsAndHides_data();
    void successWritesSavesStartsAndHides();
    void untickedBoxKeepsOldPasswordUnused();
    void fileThatCannotBeWrittenIsReported();
    void clientThatCannotStartIsReported_data();
    void clientThatCannotStartIsReported();

private:
    void fill(const QString &domain, const QString &user, const QString &password,
              bool remember);
    void runConnect(Route route = Route::Slot);
    QStringList clientRuns() const;
    QString waitForClientRun() const;
    void verifyNoClientStarted() const;
    QString connectionFile() const;

    tests::SelectorServer m_selector;
    QTemporaryDir m_bin;
    QString m_records;
    QByteArray m_path;
    std::unique_ptr<Dialog> m_dialog;
    std::unique_ptr<tests::MessageBoxWatcher> m_boxes;
    std::unique_ptr<CursorAtBoxes> m_cursor;
};

void TestConnectWorkflow::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    // The program asks the loopback selector on this fixed port.
    QVERIFY2(m_selector.start(tests::SelectorServer::Certificate::Trusted,
                              TESSARINO_TEST_SELECTOR_PORT),
             qPrintable(m_selector.errorString()));

    // The fake client records each run into a folder of its own, moved into place when
    // complete.
    QVERIFY(m_bin.isValid());
    m_records = m_bin.filePath("records");
    QVERIFY(QDir().mkpath(m_records));
    QVERIFY(writeFile(m_bin.filePath("xfreerdp"),
                      "#!/bin/sh\n"
                      "PATH=/usr/bin:/bin\n"
                      "work=\"" + m_records.toLocal8Bit() + "/.run.$$\"\n"
                      "mkdir -p \"$work\"\n"
                      "printf '%s\\0' \"$@\" > \"$work/argv\"\n"
                      "cat > \"$work/stdin\"\n"
                      "cat /proc/$$/environ > \"$work/environ\"\n"
                      "mv \"$work\" \"" + m_records.toLocal8Bit() + "/run.$$\"\n",
                      true));
    m_path = m_bin.path().toLocal8Bit() + ':' + qgetenv("PATH");
}

void TestConnectWorkflow::init()
{
    qputenv("PATH", m_path);
    m_selector.clearAnswers();
    m_selector.clearRequests();
    m_selector.setDefaultAnswer(
        R"({"TerminalServerDetails": {"host": "ts1.example", "port": 3389}})");
    QDir(m_records).removeRecursively();
    QVERIFY(QDir().mkpath(m_records));

    m_dialog = std::make_unique<Dialog>();
    m_boxes = std::make_unique<tests::MessageBoxWatcher>(QMessageBox::Ok);
    m_cursor = std::make_unique<CursorAtBoxes>();
}

void TestConnectWorkflow::cleanup()
{
    // On every path the wait cursor is gone at the end, and it was gone before the
    // run's own message (always the last one shown).
    const bool cursorLeft = QApplication::overrideCursor() != nullptr;
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    const QList<bool> cursorAtBoxes = m_cursor->waitCursorShown;

    m_cursor.reset();
    m_boxes.reset();
    const QString profile = I::profileFolder(*m_dialog);
    m_dialog.reset();
    // Every test starts from a profile with nothing remembered and no connection file.
    if (!profile.isEmpty())
        QDir(profile).removeRecursively();

    QVERIFY(!cursorLeft);
    QVERIFY(cursorAtBoxes.isEmpty() || !cursorAtBoxes.last());
}

void TestConnectWorkflow::fill(const QString &domain, const QString &user,
                               const QString &password, bool remember)
{
    I::dominioLineEdit(*m_dialog)->setText(domain);
    I::utenteLineEdit(*m_dialog)->setText(user);
    I::passwordLineEdit(*m_dialog)->setText(password);
    I::checkBox(*m_dialog)->setChecked(remember);
}

void TestConnectWorkflow::runConnect(Route route)
{
    switch (route) {
    case Route::Slot:
        QVERIFY(QMetaObject::invokeMethod(m_dialog.get(), "handleConnetti"));
        break;
    case Route::Button:
        QTest::mouseClick(I::connettiButton(*m_dialog), Qt::LeftButton);
        break;
    case Route::TrayMenu:
        I::connettiAction(*m_dialog)->trigger();
        break;
    }
}

QStringList TestConnectWorkflow::clientRuns() const
{
    return QDir(m_records).entryList({"run.*"}, QDir::Dirs);
}

QString TestConnectWorkflow::waitForClientRun() const
{
    QStringList runs;
    if (!QTest::qWaitFor([&] { return !(runs = clientRuns()).isEmpty(); }))
        return {};
    return runs.size() == 1 ? m_records + '/' + runs.first() : QString();
}

void TestConnectWorkflow::verifyNoClientStarted() const
{
    // A client that had been started would have recorded itself by now.
    QTest::qWait(300);
    QVERIFY(clientRuns().isEmpty());
    QVERIFY(QDir(m_records).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)
                .isEmpty());
}

QString TestConnectWorkflow::connectionFile() const
{
    return I::profileFolder(*m_dialog) + "/my.rdp";
}

// ---- the checks of the form ------------------------------------------------------

void TestConnectWorkflow::emptyFieldsAreRefused_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focused");

    const QString dominio = "Attenzione|Impostare il dominio!";
    const QString utente = "Attenzione|Impostare l'utente!";
    const QString pw = "Attenzione|Impostare la password!";
    QTest::newRow("all empty: only the domain") << "" << "" << "" << false << dominio
                                                << "dominioLineEdit";
    QTest::newRow("domain of blanks") << " \t " << "mario" << "pw" << false << dominio
                                      << "dominioLineEdit";
    QTest::newRow("user missing, password too") << "ACME" << "" << "" << false << utente
                                                << "utenteLineEdit";
    QTest::newRow("user of blanks") << "ACME" << "   " << "pw" << false << utente
                                    << "utenteLineEdit";
    QTest::newRow("password of blanks") << "ACME" << "mario" << "  " << false << pw
                                        << "passwordLineEdit";
    QTest::newRow("from the tray, window hidden")
        << "ACME" << "mario" << "" << true << pw << "passwordLineEdit";
}

void TestConnectWorkflow::emptyFieldsAreRefused()
{
    QFETCH(QString, domain);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, hidden);
    QFETCH(QString, message);
    QFETCH(QString, focused);

    QVERIFY(writeFile(connectionFile(), "old"));
    if (!hidden)
        m_dialog->show();
    fill(domain, user, password, true);
    runConnect(hidden ? Route::TrayMenu : Route::Slot);

    QCOMPARE(m_boxes->summary(), QStringList{message});
    QCOMPARE(m_boxes->boxes().first().icon, QMessageBox::Warning);
    QCOMPARE(m_boxes->boxes().first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(m_dialog->focusWidget()->objectName(), focused);
    // Nothing else happened: no cursor, no request, the old file still there.
    QVERIFY(m_cursor->waitCursorShown == QList<bool>{false});
    QVERIFY(m_selector.logins().isEmpty());
    QCOMPARE(readAll(connectionFile()), QByteArray("old"));
    QVERIFY(I::dominio(*m_dialog).isEmpty());
}

void TestConnectWorkflow::undeletableOldFileStopsBeforeTheRequest()
{
    // A folder where the file should be cannot be deleted as a file, even by root.
    QVERIFY(QDir().mkpath(connectionFile() + "/inside"));
    fill("ACME", kUserName, "pw", true);
    runConnect(Route::TrayMenu);

    QCOMPARE(m_boxes->summary(), QStringList{kCannotModify});
    QCOMPARE(m_boxes->boxes().first().icon, QMessageBox::Critical);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(m_selector.logins().isEmpty());
    QVERIFY(I::store(*m_dialog).Get("dominio").isEmpty());
    QVERIFY(I::dominio(*m_dialog).isEmpty());
    verifyNoClientStarted();
}

// ---- the lookup --------------------------------------------------------------------

void TestConnectWorkflow::failedLookupChangesNothingStored_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("no server in the answer, window shown")
        << QByteArray(R"({"error": "unknown login"})") << true << QStringList{kNoServer};
    QTest::newRow("no server in the answer, window hidden")
        << QByteArray(R"({"TerminalServerDetails": {"port": 3389}})") << false
        << QStringList{kNoServer};
    // A host that would put an option of its own on the client's command line.
    QTest::newRow("hostile host refused")
        << QByteArray(R"({"TerminalServerDetails": {"host": "ts1.example /p:x", "port": 3389}})")
        << true << QStringList{kNoServer};
    QTest::newRow("unreadable answer: the selector's message first")
        << QByteArray("<html>busy</html>") << false
        << QStringList{"Attenzione|Si e verificato un errore leggendo la risposta!", kNoServer};
}

void TestConnectWorkflow::failedLookupChangesNothingStored()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, shown);
    QFETCH(QStringList, messages);

    PersistentDictionary &store = I::store(*m_dialog);
    store.Put("dominio", "OLD");
    store.Put("utente", "old");
    store.Put("memorizza", "");
    QVERIFY(writeFile(connectionFile(), "old"));
    m_selector.setDefaultAnswer(answer);
    if (shown)
        m_dialog->show();

    fill(" ACME ", " mario ", " pw ", true);
    runConnect();

    QCOMPARE(m_boxes->summary(), messages);
    QCOMPARE(m_boxes->boxes().last().icon, QMessageBox::Critical);
    // The selector's own message comes while the request still holds the wait cursor.
    QCOMPARE(m_cursor->waitCursorShown.size(), messages.size());
    QCOMPARE(m_cursor->waitCursorShown.count(true), messages.size() - 1);
    QCOMPARE(m_selector.logins(), QStringList{kUserName});
    // The window as it was; the members hold what was typed, the store what it held.
    QCOMPARE(m_dialog->isVisible(), shown);
    QCOMPARE(I::dominio(*m_dialog), "ACME");
    QCOMPARE(I::utente(*m_dialog), kUserName);
    QCOMPARE(I::password(*m_dialog), "pw");
    QCOMPARE(I::memorizza(*m_dialog), "1");
    QCOMPARE(store.Get("dominio"), "OLD");
    QCOMPARE(store.Get("utente"), "old");
    QCOMPARE(store.Get("memorizza"), "");
    QVERIFY(store.Get("password").isEmpty());
    // The old file went before the request.
    QVERIFY(!QFileInfo::exists(connectionFile()));
    verifyNoClientStarted();
}

// ---- a connect that succeeds -------------------------------------------------------

void TestConnectWorkflow::successWritesSavesStartsAndHides_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("remember");
    QTest::addColumn<Route>("route");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("server");

    const QByteArray normal =
        R"({"TerminalServerDetails": {"host": "ts1.example", "port": 3389}})";
    QTest::newRow("button, box ticked")
        << "Segreto-1" << true << Route::Button << true << normal << "/v:ts1.example:3389";
    QTest::newRow("box not ticked")
        << "Segreto-1" << false << Route::Slot << true << normal << "/v:ts1.example:3389";
    QTest::newRow("password with blanks around")
        << "  s3 gr\u00e8to \t" << true << Route::Slot << true << normal
        << "/v:ts1.example:3389";
    QTest::newRow("tray menu, window hidden stays hidden")
        << "Segreto-1" << true << Route::TrayMenu << false << normal << "/v:ts1.example:3389";
    QTest::newRow("empty port still launches")
        << "Segreto-1" << true << Route::Slot << true
        << QByteArray(R"({"TerminalServerDetails": {"host": "192.0.2.10", "port": ""}})")
        << "/v:192.0.2.10:";
}

void TestConnectWorkflow::successWritesSavesStartsAndHides()
{
    QFETCH(QString, password);
    QFETCH(bool, remember);
    QFETCH(Route, route);
    QFETCH(bool, shown);
    QFETCH(QByteArray, answer);
    QFETCH(QString, server);

    m_selector.setDefaultAnswer(answer);
    QVERIFY(writeFile(connectionFile(), QByteArray(4000, 'x')));
    if (shown)
        m_dialog->show();
    fill("  ACME ", " mario  ", password, remember);
    runConnect(route);

    const QString plain = password.trimmed();
    QCOMPARE(m_boxes->summary(), QStringList());
    QCOMPARE(m_selector.logins(), QStringList{kUserName});
    QVERIFY(!m_dialog->isVisible());

    // The file: the template, then the three lines; the password only protected.
    const QByteArray file = readAll(connectionFile());
    const QByteArray head = I::rdpTemplate(*m_dialog).toLocal8Bit()
                            + "domain:s:ACME\r\nusername:s:mario\r\npassword 51:b:";
    QVERIFY(file.startsWith(head));
    QVERIFY(file.endsWith("\r\n"));
    const QString protectedPassword = QString::fromLatin1(file.mid(head.size()).chopped(2));
    QVERIFY(!protectedPassword.isEmpty());
    QCOMPARE(unprotectPassword(protectedPassword), plain);
    QVERIFY(!file.contains(plain.toUtf8()));

    // The store: the password only when the box is ticked.
    PersistentDictionary &store = I::store(*m_dialog);
    QCOMPARE(store.Get("dominio"), "ACME");
    QCOMPARE(store.Get("utente"), kUserName);
    QCOMPARE(store.Get("memorizza"), remember ? "1" : "");
    QCOMPARE(unprotectPassword(store.Get("password")), remember ? plain : QString());
    QCOMPARE(I::password(*m_dialog), plain);

    // The client: the file, the server, the domain; the password on its input only.
    const QString run = waitForClientRun();
    QVERIFY(!run.isEmpty());
    QCOMPARE(readAll(run + "/argv").split('\0'),
             QByteArrayList({connectionFile().toLocal8Bit(), server.toLocal8Bit(), "/f",
                             "/cert:tofu", "/from-stdin:force", "/d:ACME", ""}));
    QCOMPARE(readAll(run + "/stdin"), plain.toUtf8() + '\n');
    QVERIFY(!readAll(run + "/environ").contains(plain.toUtf8()));
}

void TestConnectWorkflow::untickedBoxKeepsOldPasswordUnused()
{
    PersistentDictionary &store = I::store(*m_dialog);
    store.Put("memorizza", "1");
    store.Put("password", protectPassword("vecchia"));
    fill("ACME", kUserName, "nuova", false);
    runConnect();

    QVERIFY(!waitForClientRun().isEmpty());
    QCOMPARE(store.Get("memorizza"), "");
    QCOMPARE(unprotectPassword(store.Get("password")), "vecchia");
}

// ---- failures after the lookup -----------------------------------------------------

void TestConnectWorkflow::fileThatCannotBeWrittenIsReported()
{
    // A profile "folder" that is a plain file: nothing to delete, nothing can be made in
    // it, whoever runs the test.
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("profile"), "not a folder"));
    const QString realProfile = I::profileFolder(*m_dialog);
    I::setProfileFolder(*m_dialog, dir.filePath("profile"));

    fill("ACME", kUserName, "pw", true);
    runConnect(Route::TrayMenu);
    I::setProfileFolder(*m_dialog, realProfile);

    QCOMPARE(m_boxes->summary(), QStringList{kCannotModify});
    QCOMPARE(m_boxes->boxes().first().icon, QMessageBox::Critical);
    QVERIFY(m_dialog->isVisible());
    // The lookup succeeded, so the credentials were saved; no client on a missing file.
    QCOMPARE(I::store(*m_dialog).Get("dominio"), "ACME");
    verifyNoClientStarted();
}

void TestConnectWorkflow::clientThatCannotStartIsReported_data()
{
    QTest::addColumn<QByteArray>("client");

    QTest::newRow("not on the PATH") << QByteArray();
    QTest::newRow("there but cannot run") << QByteArray("#!/nonexistent/interpreter\n");
}

void TestConnectWorkflow::clientThatCannotStartIsReported()
{
    QFETCH(QByteArray, client);

    // The PATH holds only this folder: no real client installed on the machine is found.
    QTemporaryDir bin;
    if (!client.isEmpty())
        QVERIFY(writeFile(bin.filePath("xfreerdp"), client, true));
    qputenv("PATH", bin.path().toLocal8Bit());

    fill("ACME", kUserName, "pw", true);
    runConnect(Route::TrayMenu);
    qputenv("PATH", m_path);

    QCOMPARE(m_boxes->summary(), QStringList{kCannotStart});
    QCOMPARE(m_boxes->boxes().first().icon, QMessageBox::Critical);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(readAll(connectionFile()).startsWith(I::rdpTemplate(*m_dialog).toLocal8Bit()));
    verifyNoClientStarted();
}

TESSARINO_GUI_TEST_MAIN(TestConnectWorkflow)
#include "tst_connectworkflow.moc"

// The main window, its tray icon and menu, and remote assistance, on the offscreen
// platform. The test executable's folder is the application folder: the shipped files
// are placed there by the build.
#include "app/buildconfig.h"
#include "lookup/userenvironment.h"
#include "store/passwordprotection.h"
#include "store/persistentdictionary.h"
#include "support/messageboxwatcher.h"
#include "support/testmain.h"
#include "ui/connectiontemplate.h"
#include "ui/dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaMethod>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

struct DialogInspector
{
    static void setRemembered(
        Dialog &d, const QString &dominio, const QString &utente, const QString &password)
    {
        d.dominio = dominio;
        d.utente = utente;
        d.password = password;
    }
    static QString memorizza(const Dialog &d) { return d.memorizza; }
    static QString rdpTemplate(const Dialog &d) { return d.rdpTemplate; }
    static QSystemTrayIcon *trayIcon(const Dialog &d) { return d.trayIcon; }
    static QMenu *trayIconMenu(const Dialog &d) { return d.trayIconMenu; }
    static QAction *esciAction(const Dialog &d) { return d.esciAction; }
    static QAction *assistenzaAction(const Dialog &d) { return d.assistenzaAction; }
    static QAction *credenzialiAction(const Dialog &d) { return d.credenzialiAction; }
};

namespace {

QString applicationFolder()
{
    return QCoreApplication::applicationDirPath();
}

template <typename T = QWidget> T *child(Dialog &d, const char *name)
{
    auto *found = d.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qWarning("no child %s", name);
    return found;
}

} // namespace

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void formWidgets_data();
    void formWidgets();
    void windowAndLayouts();
    void banner();
    void slotsInOrder();
    void templateReadAtConstruction();
    void templateDecoding_data();
    void templateDecoding();

    void focusRule_data();
    void focusRule();
    void rememberedCredentialsFillTheForm_data();
    void rememberedCredentialsFillTheForm();
    void dismissingOnlyHides_data();
    void dismissingOnlyHides();
    void onlyDoubleClickShows();

    void trayMenu();
    void credenzialiShowsHiddenWindow();
    void esciEndsEventLoop();

    void assistanceToolMissing();
    void assistanceToolStartedEachTime();

private:
    std::unique_ptr<Dialog> dialog;
};

void TestDialog::initTestCase()
{
    // As the program does: hiding or closing the window must never end the run.
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY2(QFile::exists(applicationFolder() + "/default.rdp"),
        "the build places the shipped files next to the test");
}

void TestDialog::cleanup()
{
    dialog.reset();
    // Every test starts from a profile with nothing remembered.
    UserEnvironment environment;
    if (environment.load())
        QFile::remove(environment.profileFolder + "/persistent.dictionary");
}

// ---- the form ---------------------------------------------------------------------

void TestDialog::formWidgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry"); // checked when valid
    QTest::addColumn<QString>("text"); // checked when the widget has a text

    const QString inner = QStringLiteral("verticalLayoutWidget");
    auto row = [](const char *name, const char *cls, const QString &parent, QRect geometry,
                   const QString &text) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << parent
                            << geometry << text;
    };
    row("labelTop", "QLabel", "Dialog", QRect(10, 10, 390, 52), QString());
    row("verticalLayoutWidget", "QWidget", "Dialog", QRect(10, 80, 391, 141), QString());
    row("dominioLabel", "QLabel", inner, QRect(), "Dominio");
    row("dominioLineEdit", "QLineEdit", inner, QRect(), "");
    row("utenteLabel", "QLabel", inner, QRect(), "Utente");
    row("utenteLineEdit", "QLineEdit", inner, QRect(), "");
    row("passwordLabel", "QLabel", inner, QRect(), "Password");
    row("passwordLineEdit", "QLineEdit", inner, QRect(), "");
    row("memorizzaCredenzialiLabel", "QLabel", inner, QRect(), "Memorizza Password");
    row("memorizzaCredenzialiCheckBox", "QCheckBox", inner, QRect(), "");
    row("connettiButton", "QPushButton", inner, QRect(), "  Connetti");
    row("chiudiButton", "QPushButton", inner, QRect(), "  Annulla");
}

void TestDialog::formWidgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    dialog = std::make_unique<Dialog>();
    QWidget *widget = dialog->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    if (geometry.isValid())
        QCOMPARE(widget->geometry(), geometry);

    // The labelTop text is the banner (see banner()); the other texts are the form's.
    if (name != "labelTop") {
        const QVariant shown = widget->property("text");
        if (shown.isValid())
            QCOMPARE(shown.toString(), text);
    }
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        QCOMPARE(
            edit->echoMode(), name == "passwordLineEdit" ? QLineEdit::Password : QLineEdit::Normal);
}

void TestDialog::windowAndLayouts()
{
    dialog = std::make_unique<Dialog>();
    Dialog &d = *dialog;
    QCOMPARE(d.objectName(), "Dialog");
    QCOMPARE(d.windowTitle(), "Orvane");
    QCOMPARE(d.size(), QSize(410, 225));
    QCOMPARE(d.minimumSize(), QSize(410, 225));
    QCOMPARE(d.maximumSize(), QSize(410, 225));
    QCOMPARE(d.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(d.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QVERIFY(!d.autoFillBackground());
    QCOMPARE(child<QLabel>(d, "labelTop")->margin(), 5);

    auto *vertical = child<QVBoxLayout>(d, "verticalLayout");
    QVERIFY(vertical);
    QCOMPARE(vertical->parentWidget(), child(d, "verticalLayoutWidget"));
    QCOMPARE(vertical->spacing(), 6);
    QCOMPARE(vertical->contentsMargins(), QMargins(0, 0, 0, 0));

    auto *form = child<QFormLayout>(d, "formLayout");
    auto *buttons = child<QHBoxLayout>(d, "horizontalLayout");
    QVERIFY(form && buttons);
    QCOMPARE(vertical->count(), 2);
    QCOMPARE(vertical->itemAt(0)->layout(), form);
    QCOMPARE(vertical->itemAt(1)->layout(), buttons);

    QCOMPARE(form->horizontalSpacing(), 5);
    QCOMPARE(form->verticalSpacing(), 6);
    QCOMPARE(form->fieldGrowthPolicy(), QFormLayout::AllNonFixedFieldsGrow);
    const char *rows[][2] = { { "dominioLabel", "dominioLineEdit" },
        { "utenteLabel", "utenteLineEdit" }, { "passwordLabel", "passwordLineEdit" },
        { "memorizzaCredenzialiLabel", "memorizzaCredenzialiCheckBox" } };
    QCOMPARE(form->rowCount(), 4);
    for (int r = 0; r < 4; ++r) {
        QCOMPARE(form->itemAt(r, QFormLayout::LabelRole)->widget(), child(d, rows[r][0]));
        QCOMPARE(form->itemAt(r, QFormLayout::FieldRole)->widget(), child(d, rows[r][1]));
    }

    QCOMPARE(buttons->spacing(), 1);
    QCOMPARE(buttons->count(), 2);
    QCOMPARE(buttons->itemAt(0)->widget(), child(d, "connettiButton"));
    QCOMPARE(buttons->itemAt(1)->widget(), child(d, "chiudiButton"));

    // The keyboard walks the form in the order it was built.
    QStringList tabOrder;
    for (QWidget *w = child(d, "dominioLineEdit"); tabOrder.size() < 6; w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus)
            tabOrder << w->objectName();
    }
    QCOMPARE(tabOrder,
        QStringList({ "dominioLineEdit", "utenteLineEdit", "passwordLineEdit",
            "memorizzaCredenzialiCheckBox", "connettiButton", "chiudiButton" }));

    for (const char *name : { "connettiButton", "chiudiButton" }) {
        auto *button = child<QPushButton>(d, name);
        QVERIFY(!button->isFlat());
        QVERIFY(!button->isDefault());
        QCOMPARE(button->styleSheet(), "text-align: left");
        QVERIFY2(!button->icon().isNull(), name);
    }
}

void TestDialog::banner()
{
    dialog = std::make_unique<Dialog>();
    auto *label = child<QLabel>(*dialog, "labelTop");
    QVERIFY(label->autoFillBackground());
    for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        const QBrush brush = label->palette().brush(group, QPalette::Window);
        QCOMPARE(brush.color(), QColor("#318203"));
        QCOMPARE(brush.style(), Qt::SolidPattern);
    }
    QCOMPARE(label->font().family(), "Courier");
    QCOMPARE(label->font().pointSize(), 14);
    QCOMPARE(label->font().weight(), QFont::Bold);
    QVERIFY(!label->font().italic());
    QCOMPARE(label->textFormat(), Qt::RichText);
    QCOMPARE(label->text(),
        "<html><head/><body style='padding: 5px;'><table><tr><td width='50%'><strong "
        "style='color: white;'>Accesso Remoto</strong></td><td width='50%' "
        "align='right'><img src='"
            + applicationFolder() + "/sfondo.png'/></td></table></body></html>");
    QVERIFY(QImage(applicationFolder() + "/sfondo.png").width() > 0);
}

void TestDialog::slotsInOrder()
{
    const QMetaObject &meta = Dialog::staticMetaObject;
    QCOMPARE(meta.className(), "Dialog");
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    QCOMPARE(meta.classInfoCount(), meta.classInfoOffset());

    QStringList found;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        found << QString::fromLatin1(method.methodSignature())
                + (method.access() == QMetaMethod::Public ? " public" : " private");
    }
    QCOMPARE(found,
        QStringList({ "reject() public", "handleConnetti() private",
            "iconActivated(QSystemTrayIcon::ActivationReason) private", "rendiVisibile() private",
            "impostaCredenziali() private", "richiediAssistenza() private" }));
    const int activated = meta.indexOfSlot("iconActivated(QSystemTrayIcon::ActivationReason)");
    QCOMPARE(meta.method(activated).parameterNames(), QList<QByteArray> { "reason" });
}

// ---- the connection template ---------------------------------------------------------

void TestDialog::templateReadAtConstruction()
{
    QFile shipped(applicationFolder() + "/default.rdp");
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QByteArray bytes = shipped.readAll();
    QVERIFY(bytes.contains("screen mode id:i:2\r\n"));
    QVERIFY(bytes.endsWith("\r\n"));

    dialog = std::make_unique<Dialog>();
    QCOMPARE(DialogInspector::rdpTemplate(*dialog), QString::fromLatin1(bytes));
    QCOMPARE(connectionTemplatePath(), QDir::toNativeSeparators(shipped.fileName()));
}

void TestDialog::templateDecoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    const QString text = QStringLiteral("screen mode id:i:2\r\nalternate shell:s:caff\u00e8\r\n");
    QByteArray utf16le("\xFF\xFE", 2);
    for (QChar c : text) {
        utf16le.append(char(c.unicode() & 0xFF));
        utf16le.append(char(c.unicode() >> 8));
    }
    QTest::newRow("UTF-16LE with BOM") << utf16le << text;
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF") + text.toUtf8() << text;
    QTest::newRow("ASCII, CR LF kept")
        << QByteArray("a:i:1\r\nb:s:x\r\n\r\n") << QStringLiteral("a:i:1\r\nb:s:x\r\n\r\n");
    QTest::newRow("empty file") << QByteArray() << QString();
}

void TestDialog::templateDecoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    QTemporaryDir dir;
    QFile file(dir.filePath("default.rdp"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QCOMPARE(readConnectionTemplate(file.fileName()), text);
}

// ---- showing and hiding ---------------------------------------------------------------

void TestDialog::focusRule_data()
{
    QTest::addColumn<QString>("dominio");
    QTest::addColumn<QString>("utente");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("clearedField"); // emptied by the user before hiding
    QTest::addColumn<QString>("focused");

    QTest::newRow("nothing remembered") << ""
                                        << ""
                                        << ""
                                        << ""
                                        << "dominioLineEdit";
    QTest::newRow("domain and user") << "ACME"
                                     << "mario"
                                     << ""
                                     << ""
                                     << "passwordLineEdit";
    QTest::newRow("all three") << "ACME"
                               << "mario"
                               << "pw"
                               << ""
                               << "utenteLineEdit";
    QTest::newRow("domain empty, user set") << ""
                                            << "mario"
                                            << "pw"
                                            << ""
                                            << "dominioLineEdit";
    QTest::newRow("domain only") << "ACME"
                                 << ""
                                 << ""
                                 << ""
                                 << "utenteLineEdit";
    QTest::newRow("user field cleared, members rule") << "ACME"
                                                      << "mario"
                                                      << ""
                                                      << "utenteLineEdit"
                                                      << "passwordLineEdit";
    QTest::newRow("domain field cleared, members rule") << "ACME"
                                                        << "mario"
                                                        << "pw"
                                                        << "dominioLineEdit"
                                                        << "utenteLineEdit";
}

void TestDialog::focusRule()
{
    QFETCH(QString, dominio);
    QFETCH(QString, utente);
    QFETCH(QString, password);
    QFETCH(QString, clearedField);
    QFETCH(QString, focused);

    dialog = std::make_unique<Dialog>();
    Dialog &d = *dialog;
    DialogInspector::setRemembered(d, dominio, utente, password);
    QWidget *expected = d.findChild<QWidget *>(focused);
    QWidget *annulla = child(d, "chiudiButton");

    d.show();
    QCOMPARE(d.focusWidget(), expected);

    if (!clearedField.isEmpty()) {
        auto *field = d.findChild<QLineEdit *>(clearedField);
        field->clear();
        field->setFocus();
    }
    d.hide();
    d.show();
    QCOMPARE(d.focusWidget(), expected);

    // On a visible window, showing again leaves the focus alone; impostaCredenziali
    // applies the rule itself.
    annulla->setFocus();
    QVERIFY(QMetaObject::invokeMethod(&d, "rendiVisibile"));
    QCOMPARE(d.focusWidget(), annulla);
    QVERIFY(QMetaObject::invokeMethod(&d, "impostaCredenziali"));
    QVERIFY(d.isVisible());
    QCOMPARE(d.focusWidget(), expected);
}

void TestDialog::rememberedCredentialsFillTheForm_data()
{
    QTest::addColumn<QString>("dominio");
    QTest::addColumn<QString>("utente");
    QTest::addColumn<QString>("memorizza");
    QTest::addColumn<QString>("password"); // stored protected
    QTest::addColumn<QString>("shownPassword");
    QTest::addColumn<QString>("focused");

    QTest::newRow("nothing stored") << ""
                                    << ""
                                    << ""
                                    << ""
                                    << ""
                                    << "dominioLineEdit";
    QTest::newRow("domain and user, not remembered") << "ACME"
                                                     << "mario"
                                                     << ""
                                                     << "secret"
                                                     << ""
                                                     << "passwordLineEdit";
    QTest::newRow("all three remembered") << "ACME"
                                          << "mario"
                                          << "1"
                                          << "secret"
                                          << "secret"
                                          << "utenteLineEdit";
}

void TestDialog::rememberedCredentialsFillTheForm()
{
    QFETCH(QString, dominio);
    QFETCH(QString, utente);
    QFETCH(QString, memorizza);
    QFETCH(QString, password);
    QFETCH(QString, shownPassword);
    QFETCH(QString, focused);

    {
        UserEnvironment environment;
        QVERIFY(environment.load());
        PersistentDictionary store(environment);
        QVERIFY(store.Open());
        store.Put("dominio", dominio);
        store.Put("utente", utente);
        store.Put("memorizza", memorizza);
        store.Put("password", password.isEmpty() ? QString() : protectPassword(password));
    }

    dialog = std::make_unique<Dialog>();
    Dialog &d = *dialog;
    QCOMPARE(child<QLineEdit>(d, "dominioLineEdit")->text(), dominio);
    QCOMPARE(child<QLineEdit>(d, "utenteLineEdit")->text(), utente);
    QCOMPARE(child<QLineEdit>(d, "passwordLineEdit")->text(), shownPassword);
    QCOMPARE(child<QCheckBox>(d, "memorizzaCredenzialiCheckBox")->isChecked(), memorizza == "1");
    QCOMPARE(DialogInspector::memorizza(d), memorizza);
    d.show();
    QCOMPARE(d.focusWidget(), d.findChild<QWidget *>(focused));
}

void TestDialog::dismissingOnlyHides_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Annulla") << "annulla";
    QTest::newRow("reject()") << "reject";
    QTest::newRow("Escape key") << "escape";
    QTest::newRow("close button") << "close";
}

void TestDialog::dismissingOnlyHides()
{
    QFETCH(QString, how);

    dialog = std::make_unique<Dialog>();
    Dialog &d = *dialog;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QSignalSpy finished(&d, &QDialog::finished);
    const int result = d.result();

    if (how == "annulla")
        QTest::mouseClick(child(d, "chiudiButton"), Qt::LeftButton);
    else if (how == "reject")
        d.reject();
    else if (how == "escape")
        QTest::keyClick(&d, Qt::Key_Escape);
    else
        d.close();

    QVERIFY(!d.isVisible());
    QVERIFY(DialogInspector::trayIcon(d)->isVisible());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(d.result(), result);

    // Still usable: it comes back on request.
    QVERIFY(QMetaObject::invokeMethod(&d, "rendiVisibile"));
    QVERIFY(d.isVisible());
}

void TestDialog::onlyDoubleClickShows()
{
    dialog = std::make_unique<Dialog>();
    QSystemTrayIcon *tray = DialogInspector::trayIcon(*dialog);
    for (auto reason : { QSystemTrayIcon::Trigger, QSystemTrayIcon::Context,
             QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown }) {
        emit tray->activated(reason);
        QVERIFY2(!dialog->isVisible(), QByteArray::number(reason));
    }
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->focusWidget(), child(*dialog, "dominioLineEdit"));
}

// ---- the tray ------------------------------------------------------------------------

void TestDialog::trayMenu()
{
    dialog = std::make_unique<Dialog>();
    QSystemTrayIcon *tray = DialogInspector::trayIcon(*dialog);
    QVERIFY(tray);
    QVERIFY(tray->isVisible());
    QCOMPARE(tray->parent(), dialog.get());
    QVERIFY(!tray->icon().isNull());
    QVERIFY(tray->toolTip().isEmpty());
    QCOMPARE(tray->contextMenu(), DialogInspector::trayIconMenu(*dialog));

    QStringList entries;
    for (QAction *action : tray->contextMenu()->actions()) {
        entries << (action->isSeparator() ? QStringLiteral("--") : action->text());
        QCOMPARE(action->parent(),
            action->isSeparator() ? tray->contextMenu() : static_cast<QObject *>(dialog.get()));
        if (!action->isSeparator())
            QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
    }
    QCOMPARE(entries, QStringList({ "&Connetti", "&Assistenza", "&Credenziali", "--", "&Esci" }));
}

void TestDialog::credenzialiShowsHiddenWindow()
{
    dialog = std::make_unique<Dialog>();
    DialogInspector::setRemembered(*dialog, "ACME", "mario", "");
    DialogInspector::credenzialiAction(*dialog)->trigger();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->focusWidget(), child(*dialog, "passwordLineEdit"));
}

void TestDialog::esciEndsEventLoop()
{
    dialog = std::make_unique<Dialog>();
    QAction *esci = DialogInspector::esciAction(*dialog);
    QTimer::singleShot(0, esci, &QAction::trigger);
    // Guards the run: a broken "&Esci" ends the loop with 3 instead of hanging.
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(3); });
    QCOMPARE(QApplication::exec(), 0);
}

// ---- remote assistance -----------------------------------------------------------------

void TestDialog::assistanceToolMissing()
{
    QVERIFY(!QFile::exists(applicationFolder() + "/qs"));
    dialog = std::make_unique<Dialog>();
    tests::MessageBoxWatcher watcher;
    DialogInspector::assistenzaAction(*dialog)->trigger();

    QCOMPARE(watcher.summary(),
        QStringList("Attenzione|Non e' stato trovato l'eseguibile per l'assistenza remota. "
                    "Scaricatelo dal sito di Orvane:  http://"
            + BuildConfig::supportHost() + "/index.php/page/support"));
    QVERIFY(!BuildConfig::supportHost().isEmpty());
    QCOMPARE(watcher.boxes().first().icon, QMessageBox::Critical);
    QCOMPARE(watcher.boxes().first().buttons, QMessageBox::Ok);
    QVERIFY(!dialog->isVisible());
}

void TestDialog::assistanceToolStartedEachTime()
{
    QTemporaryDir dir;
    const QString runs = dir.filePath("runs");
    const QString tool = applicationFolder() + "/qs";
    auto removeTool = qScopeGuard([&] { QFile::remove(tool); });
    {
        QFile script(tool);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$#\" >> '" + runs.toUtf8() + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    dialog = std::make_unique<Dialog>();
    dialog->show();
    tests::MessageBoxWatcher watcher;
    QAction *assistenza = DialogInspector::assistenzaAction(*dialog);
    assistenza->trigger();
    assistenza->trigger();

    // One line per start, each saying the tool got no arguments.
    auto lines = [&] {
        QFile file(runs);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_COMPARE(lines(), QByteArray("0\n0\n"));
    QVERIFY(watcher.boxes().isEmpty());
    QVERIFY(dialog->isVisible());
}

TESSARINO_GUI_TEST_MAIN(TestDialog)
#include "tst_dialog.moc"

#include "store/passwordprotection.h"
#include "store/persistentdictionary.h"
#include "store/rememberedcredentials.h"
#include "support/testmain.h"

#include <QTemporaryDir>

#include <memory>

namespace {

std::unique_ptr<PersistentDictionary> openStore(const QString &folder)
{
    UserEnvironment environment;
    environment.profileFolder = folder;
    auto store = std::make_unique<PersistentDictionary>(environment);
    store->Open();
    return store;
}

} // namespace

class TestRememberedCredentials : public QObject
{
    Q_OBJECT

private slots:
    void loadsStoredState_data();
    void loadsStoredState();
    void savesAcrossRestarts();
};

void TestRememberedCredentials::loadsStoredState_data()
{
    // What is in the file (a null text: the key was never written), then what loads.
    QTest::addColumn<QString>("dominio");
    QTest::addColumn<QString>("utente");
    QTest::addColumn<QString>("memorizza");
    QTest::addColumn<QString>("password"); // "good", "damaged", "" or null
    QTest::addColumn<QString>("loadedPassword");

    const QString none;
    QTest::newRow("nothing stored") << none << none << none << none << "";
    QTest::newRow("domain and user, flag empty") << "ACME" << "mario" << "" << none << "";
    QTest::newRow("flag empty, earlier password kept") << "ACME" << "mario" << "" << "good" << "";
    QTest::newRow("ticked, password opens") << "ACME" << "mario" << "1" << "good" << "segreto";
    QTest::newRow("ticked, password does not open")
        << "ACME" << "mario" << "1" << "damaged" << "";
    QTest::newRow("ticked, empty password") << "ACME" << "mario" << "1" << "" << "";
    QTest::newRow("flag true is not ticked") << "ACME" << "mario" << "true" << "good" << "";
}

void TestRememberedCredentials::loadsStoredState()
{
    QFETCH(QString, dominio);
    QFETCH(QString, utente);
    QFETCH(QString, memorizza);
    QFETCH(QString, password);
    QFETCH(QString, loadedPassword);

    QTemporaryDir folder;
    {
        auto store = openStore(folder.path());
        const QList<std::pair<QString, QString>> entries = {
            {QStringLiteral("dominio"), dominio},
            {QStringLiteral("utente"), utente},
            {QStringLiteral("memorizza"), memorizza},
        };
        for (const auto &[key, value] : entries) {
            if (!value.isNull())
                store->Put(key, value);
        }
        QString stored = password;
        if (password == QStringLiteral("good") || password == QStringLiteral("damaged"))
            stored = protectPassword(QStringLiteral("segreto"));
        if (password == QStringLiteral("damaged"))
            stored.back() = stored.back() == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
        if (!stored.isNull())
            store->Put(QStringLiteral("password"), stored);
    }

    auto store = openStore(folder.path());
    const RememberedCredentials loaded = loadRememberedCredentials(*store);
    QCOMPARE(loaded.dominio, dominio.isNull() ? QString() : dominio);
    QCOMPARE(loaded.utente, utente.isNull() ? QString() : utente);
    QCOMPARE(loaded.memorizza, memorizza.isNull() ? QString() : memorizza);
    QCOMPARE(loaded.password, loadedPassword);
}

void TestRememberedCredentials::savesAcrossRestarts()
{
    QTemporaryDir folder;
    saveRememberedCredentials(*openStore(folder.path()), QStringLiteral(" ACME\t"),
                              QStringLiteral("  mario "), QStringLiteral("1"),
                              protectPassword(QStringLiteral("segreto")), true);
    {
        auto store = openStore(folder.path());
        QCOMPARE(store->Get(QStringLiteral("dominio")), QStringLiteral("ACME"));
        QCOMPARE(store->Get(QStringLiteral("utente")), QStringLiteral("mario"));
        const RememberedCredentials loaded = loadRememberedCredentials(*store);
        QCOMPARE(loaded.memorizza, QStringLiteral("1"));
        QCOMPARE(loaded.password, QStringLiteral("segreto"));
    }

    // Unticked: domain, user and flag change; the earlier password stays in the file.
    saveRememberedCredentials(*openStore(folder.path()), QStringLiteral("OTHER"),
                              QStringLiteral("luigi"), QString(),
                              protectPassword(QStringLiteral("nuova")), false);
    auto store = openStore(folder.path());
    const RememberedCredentials loaded = loadRememberedCredentials(*store);
    QCOMPARE(loaded.dominio, QStringLiteral("OTHER"));
    QCOMPARE(loaded.utente, QStringLiteral("luigi"));
    QCOMPARE(loaded.memorizza, QString());
    QCOMPARE(loaded.password, QString());
    QCOMPARE(unprotectPassword(store->Get(QStringLiteral("password"))), QStringLiteral("segreto"));
}

TESSARINO_GUI_TEST_MAIN(TestRememberedCredentials)
#include "tst_rememberedcredentials.moc"

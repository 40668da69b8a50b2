#include "lookup/selectorclient.h"
#include "lookup/userenvironment.h"
#include "support/messageboxwatcher.h"
#include "support/selectorserver.h"
#include "support/testmain.h"
#include "support/tinyproxy.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTcpServer>

#include <curl/curl.h>

using tests::SelectorServer;

Q_DECLARE_METATYPE(SelectorServer::Answer)
Q_DECLARE_METATYPE(SelectorServer::Certificate)

namespace {

const QString readError = QStringLiteral("Attenzione|Si e verificato un errore leggendo la risposta!");

QString curlBox(CURLcode code)
{
    return QStringLiteral("Attenzione|") + QString::fromUtf8(curl_easy_strerror(code));
}

// True when the box carries one of libcurl's own error texts.
bool isCurlBox(const QString &summary)
{
    for (int code = 1; code < CURL_LAST; ++code) {
        if (summary == curlBox(static_cast<CURLcode>(code)))
            return true;
    }
    return false;
}

QByteArray details(const QByteArray &host, const QByteArray &port)
{
    return R"({"TerminalServerDetails":{"host":)" + host + R"(,"port":)" + port + "}}";
}

// An answer that names a server, padded with blanks after the object to `size` bytes.
QByteArray paddedAnswer(qsizetype size)
{
    QByteArray body = details(R"("ts1")", "3389");
    return body + QByteArray(size - body.size(), ' ');
}

} // namespace

class TestSelectorClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void answers_data();
    void answers();
    void serverShapes_data();
    void serverShapes();
    void loginArrivesIntact();
    void secondQueryStartsAfresh();
    void bodyDecodedWhole();
    void certificateRefused_data();
    void certificateRefused();
    void silentServerTimesOut_data();
    void silentServerTimesOut();
    void oversizedAnswers_data();
    void oversizedAnswers();
    void proxyUrl_data();
    void proxyUrl();
    void throughProxy_data();
    void throughProxy();

private:
    SelectorServer m_server;
};

void TestSelectorClient::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestSelectorClient::init()
{
    m_server.clearAnswers();
    m_server.clearRequests();
}

void TestSelectorClient::answers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("box");

    const QString none;
    QTest::newRow("number port") << details(R"("ts1.example.net")", "3389") << 200
                                 << "ts1.example.net" << "3389" << none;
    QTest::newRow("text port") << details(R"("ts1.example.net")", R"("3389")") << 200
                               << "ts1.example.net" << "3389" << none;
    QTest::newRow("extra keys and trailing text")
        << QByteArray(R"({"a":[1,{"TerminalServerDetails":0}],"TerminalServerDetails":)"
                      R"({"x":{"host":"no"},"host":"ts2","port":3390,"y":[]},"z":null})"
                      " and then <html>")
        << 200 << "ts2" << "3390" << none;
    QTest::newRow("error status, body still read")
        << details(R"("ts3")", "3389") << 500 << "ts3" << "3389" << none;
    QTest::newRow("empty body") << QByteArray() << 200 << none << none << readError;
    QTest::newRow("HTML error page")
        << QByteArray("<html><body>502 Bad Gateway</body></html>") << 502 << none << none
        << readError;
    QTest::newRow("JSON array")
        << "[" + details(R"("ts1")", "3389") + "]" << 200 << none << none << none;
    QTest::newRow("no TerminalServerDetails")
        << QByteArray(R"({"error":"unknown login"})") << 200 << none << none << none;
    QTest::newRow("no host") << QByteArray(R"({"TerminalServerDetails":{"port":3389}})") << 200
                             << none << "3389" << none;
}

void TestSelectorClient::answers()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, box);

    m_server.setDefaultAnswer(SelectorServer::Answer{body, status});
    tests::MessageBoxWatcher watcher;
    const TerminalServerAddress address =
        selectTerminalServer(m_server.endpoint(), nullptr, QStringLiteral("mario"));

    QCOMPARE(address.host, host);
    QCOMPARE(address.host.isNull(), host.isNull());
    QCOMPARE(address.port, port);
    QCOMPARE(m_server.logins(), QStringList{QStringLiteral("mario")});
    if (box.isNull()) {
        QVERIFY(watcher.boxes().isEmpty());
        return;
    }
    QCOMPARE(watcher.summary(), QStringList{box});
    const tests::ShownBox &shown = watcher.boxes().first();
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

// The host and port go onto the Remote Desktop client's command line: only a host
// name or address and a decimal port get through.
void TestSelectorClient::serverShapes_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<bool>("accepted");

    const QByteArray label63(63, 'a');
    const QByteArray name253 = label63 + '.' + label63 + '.' + label63 + '.' + QByteArray(61, 'b');

    QTest::newRow("DNS name") << QByteArray("TS-1.Example.net") << QByteArray("3389") << true;
    QTest::newRow("IPv4") << QByteArray("10.0.0.7") << QByteArray("3389") << true;
    QTest::newRow("IPv6") << QByteArray("fd00::7") << QByteArray("3389") << true;
    QTest::newRow("empty port") << QByteArray("ts1") << QByteArray("") << true;
    QTest::newRow("port 1") << QByteArray("ts1") << QByteArray("1") << true;
    QTest::newRow("port 65535") << QByteArray("ts1") << QByteArray("65535") << true;
    QTest::newRow("label of 63") << label63 << QByteArray("3389") << true;
    QTest::newRow("name of 253") << name253 << QByteArray("3389") << true;

    QTest::newRow("blank inside") << QByteArray("evil /admin") << QByteArray("3389") << false;
    QTest::newRow("leading dash") << QByteArray("-x") << QByteArray("3389") << false;
    QTest::newRow("quote") << QByteArray(R"(a\"b)") << QByteArray("3389") << false;
    QTest::newRow("line break") << QByteArray(R"(host\r\nx)") << QByteArray("3389") << false;
    QTest::newRow("blanks around") << QByteArray(" ts1 ") << QByteArray("3389") << false;
    QTest::newRow("option") << QByteArray("/v:x") << QByteArray("3389") << false;
    QTest::newRow("underscore") << QByteArray("ts_1") << QByteArray("3389") << false;
    QTest::newRow("empty label") << QByteArray("a..b") << QByteArray("3389") << false;
    QTest::newRow("label of 64") << label63 + 'a' << QByteArray("3389") << false;
    QTest::newRow("name of 254") << name253 + 'b' << QByteArray("3389") << false;
    QTest::newRow("IPv6 with scope") << QByteArray("fe80::1%eth0") << QByteArray("3389") << false;
    QTest::newRow("port 0") << QByteArray("ts1") << QByteArray("0") << false;
    QTest::newRow("port 70000") << QByteArray("ts1") << QByteArray("70000") << false;
    QTest::newRow("port 3389.5") << QByteArray("ts1") << QByteArray("3389.5") << false;
    QTest::newRow("port with sign") << QByteArray("ts1") << QByteArray("+3389") << false;
    QTest::newRow("port with option")
        << QByteArray("ts1") << QByteArray("3389 /f") << false;
}

void TestSelectorClient::serverShapes()
{
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, port);
    QFETCH(bool, accepted);

    m_server.setDefaultAnswer(details('"' + host + '"', '"' + port + '"'));
    if (!accepted)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unusable server"));
    tests::MessageBoxWatcher watcher;
    const TerminalServerAddress address =
        selectTerminalServer(m_server.endpoint(), nullptr, QStringLiteral("mario"));

    QVERIFY(watcher.boxes().isEmpty());
    if (accepted) {
        QCOMPARE(address.host, QString::fromUtf8(host));
        QCOMPARE(address.port, QString::fromUtf8(port));
    } else {
        QVERIFY(address.host.isNull());
        QVERIFY(address.port.isNull());
    }
}

void TestSelectorClient::loginArrivesIntact()
{
    const QString login = QStringLiteral("mario&login=x rossi#frag+è%41/?");
    m_server.setAnswer(login, SelectorServer::Answer{details(R"("ts-mario")", "3389")});

    tests::MessageBoxWatcher watcher;
    const TerminalServerAddress address =
        selectTerminalServer(m_server.endpoint(), nullptr, login);

    QCOMPARE(watcher.summary(), QStringList{});
    QCOMPARE(m_server.logins(), QStringList{login});
    QCOMPARE(address.host, QStringLiteral("ts-mario"));
    // One query value: nothing in it ends the value, starts another or a fragment.
    const QString query = m_server.rawQueries().value(0);
    QVERIFY2(query.startsWith(QStringLiteral("login=")), qPrintable(query));
    QVERIFY2(!query.contains(u'&') && !query.contains(u'#') && !query.contains(u' ')
                 && !query.contains(u'+'),
             qPrintable(query));
}

void TestSelectorClient::secondQueryStartsAfresh()
{
    tests::MessageBoxWatcher watcher;
    m_server.setDefaultAnswer(details(R"("ts1")", "3389"));
    QCOMPARE(selectTerminalServer(m_server.endpoint(), nullptr, QStringLiteral("a")).host,
             QStringLiteral("ts1"));
    QCOMPARE(watcher.summary(), QStringList{});

    m_server.setDefaultAnswer(QByteArray());
    const TerminalServerAddress second =
        selectTerminalServer(m_server.endpoint(), nullptr, QStringLiteral("b"));
    QVERIFY(second.host.isNull());
    QCOMPARE(watcher.summary(), QStringList{readError});
}

// The body reaches the client one byte at a time, so every multi-byte character is
// cut in two; the answer as logged must still hold it whole.
void TestSelectorClient::bodyDecodedWhole()
{
    const QByteArray body = R"({"note":"perché così","TerminalServerDetails":{"host":"ts1","port":3389}})";
    m_server.setDefaultAnswer(SelectorServer::Answer{body, 200, SelectorServer::Mode::Normal, 1});

    QLoggingCategory::setFilterRules(QStringLiteral("tessarino.lookup.debug=true"));
    auto restoreLogging = qScopeGuard([] { QLoggingCategory::setFilterRules({}); });
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("perché così")));
    tests::MessageBoxWatcher watcher;
    const TerminalServerAddress address =
        selectTerminalServer(m_server.endpoint(), nullptr, QStringLiteral("mario"));
    QCOMPARE(watcher.summary(), QStringList{});
    QCOMPARE(address.host, QStringLiteral("ts1"));
}

void TestSelectorClient::certificateRefused_data()
{
    QTest::addColumn<SelectorServer::Certificate>("certificate");
    QTest::newRow("signed by an unknown CA") << SelectorServer::Certificate::Untrusted;
    QTest::newRow("for another host name") << SelectorServer::Certificate::OtherHostName;
}

void TestSelectorClient::certificateRefused()
{
    QFETCH(SelectorServer::Certificate, certificate);
    SelectorServer impostor;
    QVERIFY2(impostor.start(certificate), qPrintable(impostor.errorString()));
    impostor.setDefaultAnswer(details(R"("evil")", "3389"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("selector request failed"));
    tests::MessageBoxWatcher watcher;
    const TerminalServerAddress address =
        selectTerminalServer(impostor.endpoint(), nullptr, QStringLiteral("mario"));

    QVERIFY(address.host.isNull());
    QCOMPARE(watcher.summary(), QStringList{curlBox(CURLE_PEER_FAILED_VERIFICATION)});
    // The login never left the client.
    QVERIFY(impostor.logins().isEmpty());
}

void TestSelectorClient::silentServerTimesOut_data()
{
    QTest::addColumn<bool>("tlsAnswered");
    QTest::newRow("no TLS handshake") << false;
    QTest::newRow("no HTTP answer") << true;
}

void TestSelectorClient::silentServerTimesOut()
{
    QFETCH(bool, tlsAnswered);

    // A listening socket that is never accepted: the system completes the TCP
    // handshake and nobody speaks after that.
    QTcpServer mute;
    SelectorEndpoint endpoint = m_server.endpoint();
    if (tlsAnswered) {
        m_server.setDefaultAnswer(SelectorServer::Answer{{}, 200, SelectorServer::Mode::Hang});
    } else {
        QVERIFY(mute.listen(QHostAddress::LocalHost, 0));
        mute.pauseAccepting();
        endpoint.host = QStringLiteral("127.0.0.1:%1").arg(mute.serverPort());
    }
    endpoint.connectTimeout = std::chrono::seconds(2);
    endpoint.requestTimeout = std::chrono::seconds(3);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("selector request failed"));
    tests::MessageBoxWatcher watcher;
    const TerminalServerAddress address =
        selectTerminalServer(endpoint, nullptr, QStringLiteral("mario"));

    QVERIFY(address.host.isNull());
    QCOMPARE(watcher.summary(), QStringList{curlBox(CURLE_OPERATION_TIMEDOUT)});
}

void TestSelectorClient::oversizedAnswers_data()
{
    QTest::addColumn<SelectorServer::Answer>("answer");
    QTest::addColumn<bool>("accepted");

    const auto cap = static_cast<qsizetype>(maxResponseSize);
    QTest::newRow("exactly the cap") << SelectorServer::Answer{paddedAnswer(cap)} << true;
    QTest::newRow("one byte over") << SelectorServer::Answer{paddedAnswer(cap + 1)} << false;
    QTest::newRow("endless chunked body")
        << SelectorServer::Answer{R"({"TerminalServerDetails":{"host":")", 200,
                                  SelectorServer::Mode::Endless}
        << false;
}

void TestSelectorClient::oversizedAnswers()
{
    QFETCH(SelectorServer::Answer, answer);
    QFETCH(bool, accepted);

    // A megabyte of answer is no use in the test's log.
    QLoggingCategory::setFilterRules(QStringLiteral("tessarino.lookup.debug=false"));
    auto restoreLogging = qScopeGuard([] { QLoggingCategory::setFilterRules({}); });

    m_server.setDefaultAnswer(answer);
    if (!accepted)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("answer larger than"));
    tests::MessageBoxWatcher watcher;
    const TerminalServerAddress address =
        selectTerminalServer(m_server.endpoint(), nullptr, QStringLiteral("mario"));

    if (accepted) {
        QCOMPARE(address.host, QStringLiteral("ts1"));
        QVERIFY(watcher.boxes().isEmpty());
    } else {
        // Without the cap the endless body would run into the one-minute time-out.
        QVERIFY(address.host.isNull());
        QCOMPARE(watcher.summary(), QStringList{readError});
    }
}

void TestSelectorClient::proxyUrl_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("url");

    QTest::newRow("HTTP") << int(QNetworkProxy::HttpProxy) << "proxy.lan"
                          << "http://proxy.lan:3128";
    QTest::newRow("default") << int(QNetworkProxy::DefaultProxy) << "10.0.0.1"
                             << "http://10.0.0.1:3128";
    QTest::newRow("HTTP caching") << int(QNetworkProxy::HttpCachingProxy) << "proxy.lan"
                                  << "http://proxy.lan:3128";
    QTest::newRow("SOCKS5, name resolved by the proxy")
        << int(QNetworkProxy::Socks5Proxy) << "socks.lan" << "socks5h://socks.lan:3128";
    QTest::newRow("IPv6") << int(QNetworkProxy::HttpProxy) << "fd00::1"
                          << "http://[fd00::1]:3128";
}

void TestSelectorClient::proxyUrl()
{
    QFETCH(int, type);
    QFETCH(QString, host);
    QFETCH(QString, url);

    UserEnvironment environment;
    environment.proxyType = static_cast<QNetworkProxy::ProxyType>(type);
    environment.proxyHost = host;
    environment.proxyPort = 3128;
    QCOMPARE(proxyUrlFor(environment), url);
}

void TestSelectorClient::throughProxy_data()
{
    QTest::addColumn<QString>("proxyAsks"); // user the proxy wants, "" for none
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("passes");

    QTest::newRow("open proxy") << "" << "" << "" << true;
    QTest::newRow("credentials") << "tester" << "tester" << "s3cret.pw" << true;
    QTest::newRow("wrong password") << "tester" << "tester" << "wrong" << false;
    QTest::newRow("no credentials") << "tester" << "" << "" << false;
}

void TestSelectorClient::throughProxy()
{
    QFETCH(QString, proxyAsks);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, passes);

    tests::TinyProxy proxy;
    QVERIFY2(proxy.start(proxyAsks, proxyAsks.isEmpty() ? QString() : QStringLiteral("s3cret.pw")),
             qPrintable(proxy.errorString()));
    UserEnvironment environment;
    environment.proxyType = QNetworkProxy::HttpProxy;
    environment.proxyHost = QStringLiteral("127.0.0.1");
    environment.proxyPort = proxy.port();
    environment.proxyUser = user;
    environment.proxyPassword = password;
    m_server.setDefaultAnswer(details(R"("ts1")", "3389"));

    if (!passes)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("selector request failed"));
    tests::MessageBoxWatcher watcher;
    const TerminalServerAddress address =
        selectTerminalServer(m_server.endpoint(), &environment, QStringLiteral("mario"));

    if (passes) {
        QCOMPARE(address.host, QStringLiteral("ts1"));
        QVERIFY(watcher.boxes().isEmpty());
        QCOMPARE(proxy.connectTargets(), QStringList{m_server.hostAndPort()});
        QCOMPARE(m_server.logins(), QStringList{QStringLiteral("mario")});
    } else {
        QVERIFY(address.host.isNull());
        QCOMPARE(watcher.boxes().size(), 1);
        QVERIFY2(isCurlBox(watcher.summary().first()), qPrintable(watcher.summary().first()));
        QVERIFY(m_server.logins().isEmpty());
    }
}

TESSARINO_GUI_TEST_MAIN(TestSelectorClient)
#include "tst_selectorclient.moc"

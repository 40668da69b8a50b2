#include "lookup/selectorclient.h"

#include "app/buildconfig.h"
#include "lookup/jsonreader.h"
#include "lookup/lookuplog.h"
#include "lookup/userenvironment.h"

#include <QHostAddress>
#include <QMessageBox>
#include <QUrl>
#include <QVariantMap>

#include <curl/curl.h>

#include <limits>
#include <memory>
#include <mutex>

namespace {

// The body of the answer being read. One query runs at a time, so one buffer
// serves the whole process; each query clears it first. The bytes are decoded
// only once the transfer is over: libcurl cuts the body wherever the network
// did, which may be in the middle of a multi-byte character.
QByteArray responseBody;
bool responseTooLarge = false;

const QString readErrorText = QStringLiteral("Si e verificato un errore leggendo la risposta!");

// A transfer slower than this many bytes per second for lowSpeedSeconds is dropped.
constexpr long lowSpeedLimit = 16;
constexpr long lowSpeedSeconds = 20;

struct CurlCleanup
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

void showCritical(const QString &text)
{
    QMessageBox::critical(nullptr, QStringLiteral("Attenzione"), text, QMessageBox::Ok,
                          QMessageBox::NoButton);
}

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

long toCurlMilliseconds(std::chrono::milliseconds value)
{
    return static_cast<long>(value.count());
}

bool isValidDnsName(const QString &host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(u'.');
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-')
            || label.endsWith(u'-'))
            return false;
        for (QChar c : label) {
            const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
                || (c >= u'0' && c <= u'9') || c == u'-';
            if (!allowed)
                return false;
        }
    }
    return true;
}

bool isIpLiteral(const QString &host)
{
    // A scope ("fe80::1%eth0") is not accepted: it names an interface of this PC.
    if (host.contains(u'%'))
        return false;
    QHostAddress address;
    return address.setAddress(host);
}

} // namespace

bool isValidServerHost(const QString &host)
{
    return isValidDnsName(host) || isIpLiteral(host);
}

bool isValidServerPort(const QString &port)
{
    if (port.isEmpty())
        return true;
    if (port.size() > 5)
        return false;
    for (QChar c : port) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const int value = port.toInt();
    return value >= 1 && value <= 65535;
}

QString proxyUrlFor(const UserEnvironment &environment)
{
    const QString scheme = environment.proxyType == QNetworkProxy::Socks5Proxy
        ? QStringLiteral("socks5h://")
        : QStringLiteral("http://");
    QString host = environment.proxyHost;
    if (host.contains(u':') && !host.startsWith(u'['))
        host = u'[' + host + u']';
    return scheme + host + u':' + QString::number(environment.proxyPort);
}

TerminalServerAddress selectTerminalServer(const UserEnvironment *environment, QString login)
{
    return selectTerminalServer(SelectorEndpoint{BuildConfig::selectorHost(), BuildConfig::caBundle()},
                                environment, std::move(login));
}

TerminalServerAddress selectTerminalServer(const SelectorEndpoint &endpoint,
                                           const UserEnvironment *environment, QString login)
{
    TerminalServerAddress result;
    responseBody.clear();
    responseTooLarge = false;

    initialiseCurlOnce();
    CurlHandle curl(curl_easy_init());
    if (!curl)
        return result;

    // The login goes into the query as one value: "&", "#", "+" and blanks must not
    // end it or start another parameter.
    const QByteArray url = "https://" + endpoint.host.toUtf8() + "/outsourcing/selector?login="
        + QUrl::toPercentEncoding(login);
    const QByteArray caBundle = endpoint.caBundle.toUtf8();
    CURL *handle = curl.get();
    char errorDetail[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorDetail);
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendResponse);
    // Whoever answers learns the login and chooses the server that receives the
    // password, so the certificate must be valid for the selector's name.
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caBundle.isEmpty()) {
        // The given bundle replaces the system store rather than adding to it.
        curl_easy_setopt(handle, CURLOPT_CAINFO, caBundle.constData());
        curl_easy_setopt(handle, CURLOPT_CAPATH, static_cast<const char *>(nullptr));
    }
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
#else
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    // The GUI thread waits for the answer, so the wait is bounded. No signals: a
    // time-out during name resolution must not use SIGALRM in a threaded program.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, toCurlMilliseconds(endpoint.connectTimeout));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, toCurlMilliseconds(endpoint.requestTimeout));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, lowSpeedLimit);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds);

    QByteArray proxyUrl;
    QByteArray proxyUser;
    QByteArray proxyPassword;
    if (environment && environment->hasProxy()) {
        proxyUrl = proxyUrlFor(*environment).toUtf8();
        curl_easy_setopt(handle, CURLOPT_PROXY, proxyUrl.constData());
        if (!environment->proxyUser.trimmed().isEmpty()) {
            // Given apart, so that a ":" in the user name is not taken for the end of it.
            proxyUser = environment->proxyUser.toUtf8();
            proxyPassword = environment->proxyPassword.toUtf8();
            curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, proxyUser.constData());
            curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, proxyPassword.constData());
        }
    } else {
        // The user environment is the one place that chooses the proxy: libcurl's own
        // reading of https_proxy and the like would be a second, different choice.
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
    }

    const CURLcode code = curl_easy_perform(handle);
    curl.reset();

    if (code == CURLE_WRITE_ERROR && responseTooLarge) {
        qCWarning(lcLookup) << "selector answer larger than" << maxResponseSize << "bytes";
        showCritical(readErrorText);
        return result;
    }
    if (code != CURLE_OK) {
        qCWarning(lcLookup) << "selector request failed:" << curl_easy_strerror(code)
                            << errorDetail;
        showCritical(QString::fromUtf8(curl_easy_strerror(code)));
        return result;
    }

    QString text = QString::fromUtf8(responseBody);
    qCDebug(lcLookup) << text;
    if (text.isNull())
        text = QStringLiteral(""); // the reader takes a null text for no value at all

    bool ok = false;
    const QVariantMap answer = JsonReader::read(text, ok).toMap();
    if (!ok) {
        showCritical(readErrorText);
        return result;
    }
    if (!answer.contains(QStringLiteral("TerminalServerDetails")))
        return result;

    const QVariantMap details = answer.value(QStringLiteral("TerminalServerDetails")).toMap();
    const QVariant host = details.value(QStringLiteral("host"));
    const QVariant port = details.value(QStringLiteral("port"));
    qCDebug(lcLookup) << host.toString().trimmed();
    qCDebug(lcLookup) << port.toString().trimmed();

    result.host = host.toString();
    result.port = port.toString();
    if (!result.host.isEmpty()
        && (!isValidServerHost(result.host) || !isValidServerPort(result.port))) {
        qCWarning(lcLookup) << "selector answered an unusable server:" << result.host
                            << result.port;
        return TerminalServerAddress{};
    }
    return result;
}

std::size_t appendResponse(char *data, std::size_t size, std::size_t count, void *)
{
    if (count != 0 && size > std::numeric_limits<std::size_t>::max() / count)
        return 0;
    const std::size_t bytes = size * count;
    if (bytes > maxResponseSize - static_cast<std::size_t>(responseBody.size())) {
        // A short count makes libcurl end the transfer with CURLE_WRITE_ERROR.
        responseTooLarge = true;
        return 0;
    }
    responseBody.append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

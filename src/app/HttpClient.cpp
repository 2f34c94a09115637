#include "app/HttpClient.h"
#include <curl/curl.h>
#include <mutex>

namespace {

void globalInit()
{
    // curl_global_init is not thread-safe; run it once before the first handle.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t appendBody(char *data, size_t size, size_t count, void *user)
{
    static_cast<QByteArray *>(user)->append(data, qsizetype(size * count));
    return size * count;
}

long curlProxyType(HttpClient::ProxyKind kind)
{
    switch (kind) {
    case HttpClient::ProxyKind::Socks4:
        return CURLPROXY_SOCKS4;
    case HttpClient::ProxyKind::Socks4a:
        return CURLPROXY_SOCKS4A;
    case HttpClient::ProxyKind::Socks5:
        // Host names are resolved by the proxy, as a browser behind it would.
        return CURLPROXY_SOCKS5_HOSTNAME;
    default:
        return CURLPROXY_HTTP;
    }
}

HttpClient::Response perform(const QString &url, const QByteArray *postBody, const HttpClient::Options &o)
{
    globalInit();
    HttpClient::Response r;
    CURL *curl = curl_easy_init();
    if (!curl) {
        r.errorText = QStringLiteral("无法初始化 HTTP 连接");
        return r;
    }
    char errbuf[CURL_ERROR_SIZE] = {0};
    const QByteArray urlBytes = url.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // required for timeouts on worker threads
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(o.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(o.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Velaro");
    // An explicit choice: without a proxy in the options, the environment's proxy is not used either.
    QByteArray proxyHost, proxyUser, proxyPass;
    if (o.proxy.kind == HttpClient::ProxyKind::None) {
        curl_easy_setopt(curl, CURLOPT_PROXY, "");
    } else {
        proxyHost = o.proxy.host.toUtf8();
        curl_easy_setopt(curl, CURLOPT_PROXY, proxyHost.constData());
        curl_easy_setopt(curl, CURLOPT_PROXYPORT, long(o.proxy.port));
        curl_easy_setopt(curl, CURLOPT_PROXYTYPE, curlProxyType(o.proxy.kind));
        // The chosen proxy serves every host; the environment's no_proxy list would bypass it.
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
        if (!o.proxy.user.isEmpty()) {
            proxyUser = o.proxy.user.toUtf8();
            proxyPass = o.proxy.password.toUtf8();
            curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxyUser.constData());
            curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxyPass.constData());
        }
    }
    if (postBody) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody->constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(postBody->size()));
    }
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    if (rc != CURLE_OK) {
        r.errorText = QString::fromUtf8(errbuf[0] ? errbuf : curl_easy_strerror(rc));
        r.body.clear();
    }
    curl_easy_cleanup(curl);
    return r;
}

} // namespace

HttpClient::Response HttpClient::get(const QString &url, const Options &options)
{
    return perform(url, nullptr, options);
}

HttpClient::Response HttpClient::postForm(const QString &url, const Form &fields, const Options &options)
{
    const QByteArray body = encodeForm(fields);
    return perform(url, &body, options);
}

QByteArray HttpClient::encodeForm(const Form &fields)
{
    QByteArray out;
    for (const auto &f : fields) {
        if (!out.isEmpty())
            out += '&';
        out += f.first.toPercentEncoding() + '=' + f.second.toPercentEncoding();
    }
    return out;
}

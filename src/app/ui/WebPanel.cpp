#include "app/ui/WebPanel.h"
#include "app/ui/AsyncHttp.h"
#include "common/GbkCodec.h"
#include <QDesktopServices>

WebPanel::WebPanel(QWidget *parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &WebPanel::followLink);
}

QString WebPanel::textOf(const HttpClient::Response &r)
{
    return Gbk::decodeText(r.body);
}

void WebPanel::load(const QString &url)
{
    m_url = url;
    m_loading = true;
    const quint64 generation = ++m_generation;
    HttpClient::Options o;
    o.timeoutMs = 15000;
    runAsync(
        this, [url, o] { return HttpClient::get(url, o); },
        [this, generation](HttpClient::Response r) {
            if (generation != m_generation)
                return; // a newer load() is under way
            m_loading = false;
            m_error =
                r.ok() ? QString() : (r.completed() ? QStringLiteral("HTTP %1").arg(r.status) : r.errorText);
            pageArrived(r);
            emit loaded(r.ok());
        });
}

void WebPanel::pageArrived(const HttpClient::Response &r)
{
    document()->setBaseUrl(QUrl(m_url));
    if (r.ok())
        setHtml(textOf(r));
    else
        setPlainText(QStringLiteral("无法打开 %1\n%2").arg(m_url, m_error));
}

void WebPanel::followLink(const QUrl &link)
{
    const QUrl base(m_url);
    const QUrl target = base.resolved(link);
    if (target.adjusted(QUrl::RemoveFragment) == base.adjusted(QUrl::RemoveFragment) &&
        target.hasFragment()) {
        scrollToAnchor(target.fragment(QUrl::FullyDecoded));
        return;
    }
    QDesktopServices::openUrl(target);
}

#pragma once
#include "app/HttpClient.h"
#include <QTextBrowser>

// A browser pane fed over HTTP: the page is fetched on a worker and shown as rich text.
class WebPanel : public QTextBrowser {
    Q_OBJECT
public:
    explicit WebPanel(QWidget *parent = nullptr);

    // Starts loading url; a later load() supersedes an earlier one still under way.
    void load(const QString &url);
    QString url() const { return m_url; }
    bool isLoading() const { return m_loading; }
    // The last exchange's error text; empty after a successful load.
    QString errorText() const { return m_error; }
    static QString textOf(const HttpClient::Response &r);

signals:
    void loaded(bool ok);

protected:
    // The page arrived; the default shows it.
    virtual void pageArrived(const HttpClient::Response &r);

private:
    void followLink(const QUrl &link);
    QString m_url;
    QString m_error;
    bool m_loading = false;
    quint64 m_generation = 0;
};

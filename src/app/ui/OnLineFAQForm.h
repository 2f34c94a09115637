#pragma once
#include <QWidget>

class WebPanel;

// The help window: one non-modal browser on the provider's FAQ page.
class TOnLineFAQForm : public QWidget {
    Q_OBJECT
public:
    TOnLineFAQForm();
    // Loads the FAQ page and scrolls to anchor once it has arrived.
    void navigate(const QString &anchor);
    WebPanel *browser() const { return m_browser; }
    QString anchor() const { return m_anchor; }
    // The help window now open, if any.
    static TOnLineFAQForm *current();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    WebPanel *m_browser;
    QString m_anchor;
};

// Shows the help window at anchor, creating it when none is open.
void ShowFaqPage(const QString &anchor);

#include "app/ui/OnLineFAQForm.h"
#include "app/ProviderConfig.h"
#include "app/ui/WebPanel.h"
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

namespace {
QPointer<TOnLineFAQForm> &theForm()
{
    static QPointer<TOnLineFAQForm> form;
    return form;
}
} // namespace

TOnLineFAQForm::TOnLineFAQForm() : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("OnLineFAQForm"));
    setAttribute(Qt::WA_DeleteOnClose); // closing forgets it; the next call makes a new one
    setWindowTitle(QStringLiteral("常见问题解答(FAQ)"));
    m_browser = new WebPanel(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(780, 560);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    connect(m_browser, &WebPanel::loaded, this, [this](bool ok) {
        if (ok && !m_anchor.isEmpty())
            m_browser->scrollToAnchor(m_anchor);
    });
}

void TOnLineFAQForm::navigate(const QString &anchor)
{
    m_anchor = anchor;
    m_browser->load(ProviderConfig::load().faqUrl(anchor));
}

void TOnLineFAQForm::closeEvent(QCloseEvent *event)
{
    // Forgotten at once: the window is only deleted later, and a call meanwhile needs a new one.
    if (theForm() == this)
        theForm() = nullptr;
    QWidget::closeEvent(event);
}

TOnLineFAQForm *TOnLineFAQForm::current()
{
    return theForm().data();
}

void ShowFaqPage(const QString &anchor)
{
    if (!theForm())
        theForm() = new TOnLineFAQForm;
    theForm()->navigate(anchor);
    theForm()->show();
    theForm()->raise();
    theForm()->activateWindow();
}

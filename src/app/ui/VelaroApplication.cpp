#include "app/ui/VelaroApplication.h"
#include "app/ui/QtPrompter.h"
#include "common/VelaroError.h"

VelaroApplication::VelaroApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool VelaroApplication::notify(QObject *receiver, QEvent *event)
{
    static QtPrompter fallback;
    return guarded(m_prompter ? *m_prompter : fallback,
                   [&] { return QApplication::notify(receiver, event); });
}

bool VelaroApplication::guarded(Prompter &prompter, const std::function<bool()> &deliver)
{
    QString text;
    try {
        return deliver();
    } catch (const VelaroError &e) {
        text = e.text();
    } catch (const std::exception &e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("未知错误");
    }
    try {
        prompter.information(text, Prompter::defaultTitle());
    } catch (...) {
        // Nothing more can be done for an error raised while showing an error.
    }
    return false;
}

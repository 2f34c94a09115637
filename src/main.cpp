#include "app/Branding.h"
#include "app/MainController.h"
#include "app/ui/Artwork.h"
#include "app/ui/QtPrompter.h"
#include "app/ui/SplashForm.h"
#include "app/ui/VelaroApplication.h"
#include "app/ui/u_nemain.h"
#include "common/Clock.h"
#include "common/HomeFolder.h"
#include "sending/SendPipeline.h"
#include "sending/ui/SendPage.h"
#include "store/dm.h"
#include <QEventLoop>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <memory>

namespace {

// The splash's pauses keep their pictures on screen; tests and screenshots skip them.
void splashPause(int ms)
{
    if (qEnvironmentVariable("VELARO_FAST_START") == QLatin1String("1"))
        ms = 0;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int run(VelaroApplication &app, Prompter &prompter)
{
    HomeFolder::ensure();
    QGuiApplication::setApplicationDisplayName(Branding::productName());
    const QIcon logo = Artwork::productLogo();
    QApplication::setWindowIcon(logo.isNull() ? Artwork::builtInIcon() : logo);

    QPointer<SplashForm> splash = new SplashForm;
    splash->show();
    splash->repaint();
    splashPause(1000);

    SystemClock clock;
    auto dm = std::make_unique<TDataM>(prompter, clock);
    dm->requestExit = [] { QCoreApplication::exit(0); };
    if (splash)
        splash->repaint();
    splashPause(1000);

    MainController controller(*dm);
    SendPipeline pipeline(*dm, controller);
    auto mainWindow = std::make_unique<Tfrmmain>(controller, clock);
    mainWindow->installSendPage(new SendPage(*dm, pipeline, prompter), pipeline);
    QObject::connect(mainWindow.get(), &Tfrmmain::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (splash)
        splash->repaint();
    mainWindow->update();
    if (splash)
        splash->close();

    bool goOn = false;
    try {
        goOn = controller.runLoginGate();
    } catch (...) {
        goOn = false;
    }
    if (!goOn) {
        try {
            mainWindow.reset();
            dm.reset();
        } catch (...) {
        }
        return 0;
    }
    mainWindow->show();
    const int rc = app.exec();
    // Results of web requests still under way have nobody left to go to.
    QThreadPool::globalInstance()->clear();
    mainWindow.reset();
    dm.reset();
    return rc;
}

} // namespace

int main(int argc, char **argv)
{
    VelaroApplication app(argc, argv);
    QtPrompter prompter;
    app.setPrompter(&prompter);
    // Errors before the message loop runs reach the same box, then end the program.
    int rc = 1;
    VelaroApplication::guarded(prompter, [&] {
        rc = run(app, prompter);
        return true;
    });
    return rc;
}

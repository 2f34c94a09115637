#include "Simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velaro-provider"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Velaro's provider simulator: SMS gateway and web server."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("config"), QStringLiteral("JSON config file."), QStringLiteral("file")});
    parser.addOption({QStringLiteral("state"), QStringLiteral("State file (overrides the config)."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("listen"),
                      QStringLiteral("Address to listen on (overrides the config)."),
                      QStringLiteral("address")});
    parser.process(app);

    QString error;
    std::optional<Sim::Config> config =
        parser.isSet(QStringLiteral("config"))
            ? Sim::Config::load(parser.value(QStringLiteral("config")), &error)
            : Sim::Config::fromJson("{}", QString(), &error);
    if (!config) {
        std::fprintf(stderr, "velaro-provider: %s\n", qPrintable(error));
        return 2;
    }
    if (parser.isSet(QStringLiteral("state")))
        config->stateFile = QFileInfo(parser.value(QStringLiteral("state"))).absoluteFilePath();
    if (parser.isSet(QStringLiteral("listen")) &&
        !config->listenAddress.setAddress(parser.value(QStringLiteral("listen")))) {
        std::fprintf(stderr, "velaro-provider: --listen needs an address\n");
        return 2;
    }

    Sim::Simulator simulator(*config);
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "velaro-provider: %s\n", qPrintable(error));
        return 1;
    }

    // SIGINT/SIGTERM end the event loop so the state file is written.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }

    QStringList ports;
    for (quint16 p : simulator.gatewayPorts())
        ports << QString::number(p);
    std::printf("velaro-provider: gateway on %s ports %s, web on port %u, state %s\n",
                qPrintable(config->listenAddress.toString()), qPrintable(ports.join(QLatin1Char(' '))),
                unsigned(simulator.webPort()),
                config->stateFile.isEmpty() ? "in memory only" : qPrintable(config->stateFile));
    std::fflush(stdout);
    const int rc = app.exec();
    simulator.stop();
    return rc;
}

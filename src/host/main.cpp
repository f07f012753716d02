// krpalvelin: the application server's program. Reads the settings, creates the main window,
// then the server container, and runs the message loop until the window closes.
#include "Asetukset.h"
#include "FKRPalvelin.h"
#include "MessageBox.h"
#include "ProgramOptions.h"
#include "RemoteService.h"
#include "ServerContainerService.h"
#include "log/EventLog.h"
#include "platform/Platform.h"
#include "platform/core/ProcessResources.h"
#include "platform/core/ServiceNotify.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char* argv[])
{
    const krp::ProgramOptions options = krp::parseProgramOptions(argc, argv);
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "krpalvelin: %s\n\n%s", qPrintable(options.error), qPrintable(krp::usageText()));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(krp::usageText()), stdout);
        return 0;
    }
    // Without a display the window is drawn offscreen; this must be set before the application.
    if (krp::needsOffscreenPlatform(options))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KRPalvelin"));
    const bool headless = krp::isHeadlessPlatform(QGuiApplication::platformName());

    krp::EventLog log;
    krp::EventLog::setInstance(&log);
    if (headless) {
        log.setEchoToStdout(true);
        krp::useConsoleMessageBoxes();
    }

    krp::platform::raiseOpenFileLimit();
    const QString configDir = options.configDir.isEmpty() ? krp::platform::programDirectory() : options.configDir;

    // asetukset.ini is read here once; the window writes back only its own fields.
    const krp::Asetukset asetukset = krp::lueAsetukset(configDir);

    int rc = 0;
    {
        krp::TfrmKRPalvelin window(asetukset);
        // The server container, created right after the window so showing the window (which
        // may start the service) always finds it in place.
        auto container = std::make_unique<krp::ServerContainerService>(
            asetukset, window.FDYhteysPaaruutu().database(), [&window](const krp::Yhteysnakyma& view) {
                window.PaivitaYhteysnakyma(view.lines, view.kairanetYhteyksia);
            });
        window.setOnRegistryReset([&container] { container->registry().clear(); });
        window.setRemoteService(container.get());

        // SIGINT / SIGTERM (console close on Windows): close the window as the operator would.
        krp::platform::onTerminationRequest([&window] { window.close(); });

        // Headless, the caption is not on any screen: say it on standard output as it changes.
        if (headless) {
            QObject::connect(&window, &QWidget::windowTitleChanged, [](const QString& caption) {
                std::printf("krpalvelin: caption \"%s\"\n", caption.toUtf8().constData());
                std::fflush(stdout);
            });
        }
        window.show();
        rc = app.exec();
        krp::platform::notifyStopping();

        // The service ends with the program: stop it before its container goes.
        if (container->isStarted())
            window.guarded([&window] { window.controller().stop(); });
        window.setRemoteService(nullptr);
        window.setOnRegistryReset({});
        // Lines handed over just before the end still reach the log (and standard output).
        log.appendHandedOver();
        if (container->container().abandonedCalls() > 0) {
            // Calls the stop gave up on still wait for the database (one that does not answer
            // holds them up to its limits). The settings are saved, the log is out, the
            // connections are closed: the process ends now instead of waiting for them.
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(rc);
        }
    }
    krp::EventLog::setInstance(nullptr);
    return rc;
}

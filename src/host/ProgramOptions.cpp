#include "ProgramOptions.h"

#include <QDir>
#include <QFileInfo>

namespace krp {

ProgramOptions parseProgramOptions(int argc, char* argv[])
{
    ProgramOptions options;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg == QLatin1String("--headless")) {
            options.headless = true;
        } else if (arg == QLatin1String("--config-dir") || arg.startsWith(QLatin1String("--config-dir="))) {
            QString dir;
            if (arg.contains(QLatin1Char('='))) {
                dir = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
            } else if (i + 1 < argc) {
                dir = QString::fromLocal8Bit(argv[++i]);
            }
            if (dir.isEmpty()) {
                options.error = QStringLiteral("--config-dir needs a directory.");
                return options;
            }
            if (!QFileInfo(dir).isDir()) {
                options.error = QStringLiteral("--config-dir %1: no such directory.").arg(dir);
                return options;
            }
            options.configDir = QDir(dir).absolutePath() + QLatin1Char('/');
        } else if (arg == QLatin1String("-platform") || arg == QLatin1String("-style")) {
            ++i;  // Qt's own options with a value are left to the application
        } else if (arg.startsWith(QLatin1Char('-'))) {
            options.error = QStringLiteral("unknown option %1").arg(arg);
            return options;
        } else {
            options.error = QStringLiteral("unexpected argument %1").arg(arg);
        }
    }
    return options;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: krpalvelin [--config-dir DIR] [--headless] [--help]\n"
        "\n"
        "The application server of the ERP's warehouse terminals and workshop applications.\n"
        "Shows the operator window; the service starts by itself when the settings name a\n"
        "database and a port.\n"
        "\n"
        "  --config-dir DIR  read and write asetukset.ini, and read the certificate files\n"
        "                    test.pem and test.key, in DIR (default: the program's directory)\n"
        "  --headless        draw no window even where a display exists\n"
        "  --help            show this text\n"
        "\n"
        "Without a display (or with --headless) the window runs offscreen: every event-log line\n"
        "is also written to standard output, message boxes go to standard error, and SIGINT or\n"
        "SIGTERM closes the window as the operator would (settings saved, service stopped).\n");
}

bool needsOffscreenPlatform(const ProgramOptions& options)
{
    if (options.headless)
        return true;
#ifdef _WIN32
    return false;
#else
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return false;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#endif
}

bool isHeadlessPlatform(const QString& platformName)
{
    return platformName == QLatin1String("offscreen") || platformName == QLatin1String("minimal");
}

}  // namespace krp

#pragma once
// The command line of krpalvelin.
#include <QString>

namespace krp {

struct ProgramOptions {
    QString configDir;      // --config-dir DIR: asetukset.ini and the certificate files; empty: program's directory
    bool headless = false;  // --headless: no window on screen even where a display exists
    bool help = false;
    QString error;  // not empty when the command line cannot be used
};

ProgramOptions parseProgramOptions(int argc, char* argv[]);
QString usageText();

// Whether the window must be drawn offscreen: asked for, or no display to draw on (and no
// platform chosen through QT_QPA_PLATFORM).
bool needsOffscreenPlatform(const ProgramOptions& options);
// Whether the chosen Qt platform shows nothing to an operator.
bool isHeadlessPlatform(const QString& platformName);

}  // namespace krp

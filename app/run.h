#pragma once

// Routes every log line to standard error as a plain line (message text,
// Qt's quoting, no category or source context), and turns debug output on
// over any logging configuration file; QT_LOGGING_RULES set by the user
// still decides.
void installLogHandler();

// The command line after the application object has taken its own
// arguments: no argument prints the usage line, "-h"/"--help" and
// "--version" print the help text and the version, anything else is the
// block file to convert. Returns the exit status: 0 after a conversion, the
// usage, help or version text, or a block without control points; 1 when
// the input could not be loaded, the output could not be written or memory
// ran out.
int runCommandLine(int argc, char** argv);

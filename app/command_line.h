#pragma once

#include <QString>

// What the first argument after the program name asks the tool to do.
enum class Request { Convert, Help, Version };

// "-h" and "--help" ask for the help and "--version" for the version; on
// Windows "/?" asks for the help too, as Windows programs take it (no
// Windows file can have that name). Anything else, "./--help" and, outside
// Windows, "/?" among it, names the block file to convert. `argument` is
// the one the path is taken from (on Windows from the wide command line),
// so that no name is read as an option in one spelling and as a file in
// another.
Request requestOf(const QString& argument);

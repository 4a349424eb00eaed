#pragma once

// What the first argument after the program name asks the tool to do.
enum class Request { Convert, Help, Version };

// "-h" and "--help" ask for the help and "--version" for the version; on
// Windows "/?" asks for the help too, as Windows programs take it (no
// Windows file can have that name). Anything else, "./--help" and, outside
// Windows, "/?" among it, names the block file to convert.
Request requestOf(const char* argument);

#pragma once

// File names that Windows takes for devices rather than files.

#include <QString>

// The device that Windows opens for a file called `fileName` (a name without
// directories) instead of a file, in capitals ("CON", "LPT1", "COM²"), or an
// empty string for an ordinary file name. A name is a device name when its
// part before the first '.', with trailing blanks and dots dropped, is CON,
// PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9 in any case; the superscript
// digits ¹, ² and ³ count as digits after COM and LPT. So "con.xml",
// "Nul .x.xml" and "aux" are device names; "CONSOLE.xml", "com10.xml" and
// "nul_x.xml" are not. Plain code that answers the same on every platform.
QString reservedDeviceName(const QString& fileName);

// Whether the block file `inputPath` and its GCI file `outputPath` are both
// ordinary file names by reservedDeviceName. When the input is a device name
// it logs the two lines of a failed load:
//   Open failed
//   Reason: "con.xml" "CON is a device name reserved on Windows"
// when only the output is one, the line of a failed write:
//   Write failed: "./nul.gci" "NUL is a device name reserved on Windows"
// and returns false. Opens nothing.
bool checkDeviceNames(const QString& inputPath, const QString& outputPath);

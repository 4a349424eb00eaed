#include "app/device_names.h"

#include "tests/support/log_capture.h"
#include "tests/support/qt_print.h"

#include <gtest/gtest.h>

#include <QChar>

namespace {

TEST(DeviceNamesTest, ReservedNamesInAnyCaseWithOrWithoutSuffix) {
  const QString one(QChar(0x00B9));    // superscript one
  const QString three(QChar(0x00B3));  // superscript three
  struct Case {
    QString fileName;
    QString device;  // empty: an ordinary file name
  } cases[] = {
      {"con.xml", "CON"},
      {"CON", "CON"},
      {"Prn.xml", "PRN"},
      {"aux.block.xml", "AUX"},
      {"nul.gci", "NUL"},
      {"nul.x.gci", "NUL"},
      {"NuL .xml", "NUL"},
      {"con  ", "CON"},
      {"con.", "CON"},
      {"con .", "CON"},
      {"com1.xml", "COM1"},
      {"COM9.gci", "COM9"},
      {"lpt5", "LPT5"},
      {"com" + one + ".xml", "COM" + one},
      {"LPT" + three + ".xml", "LPT" + three},
      {"CONSOLE.xml", ""},
      {"com10.xml", ""},
      {"com0.xml", ""},
      {"lpt.xml", ""},
      {"nul_x.xml", ""},
      {" con.xml", ""},
      {"x.con", ""},
      {".con", ""},
      {"", ""},
      {"block.xml", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(reservedDeviceName(c.fileName), c.device) << c.fileName.toStdString();
}

// The input is refused as a load that failed, the output as a write that
// failed; the file names alone decide, not the directories.
TEST(DeviceNamesTest, RefusalIsLoggedAsAFailedLoadOrWrite) {
  struct Case {
    QString input;
    QString output;
    bool ordinary;
    QStringList log;
  } cases[] = {
      {"con/aux/block.xml", "con/aux/block.gci", true, {}},
      {"dir/Con.xml", "dir/Con.gci", false, {"Open failed", R"(Reason: "dir/Con.xml" "CON is a device name reserved on Windows")"}},
      {"block.xml", "./nul.gci", false, {R"(Write failed: "./nul.gci" "NUL is a device name reserved on Windows")"}},
  };
  for (const Case& c : cases) {
    LogCapture log;
    EXPECT_EQ(checkDeviceNames(c.input, c.output), c.ordinary) << c.input.toStdString();
    EXPECT_EQ(log.lines(), c.log) << c.input.toStdString();
  }
}

}  // namespace

#include "platform/file_path.h"

#include "tests/support/qt_print.h"

#include <gtest/gtest.h>

#include <QChar>

#include <utility>

namespace {

TEST(DeviceNamesTest, ReservedNamesInAnyCaseWithOrWithoutSuffix) {
  const QString one(QChar(0x00B9)), three(QChar(0x00B3));  // superscript digits
  const std::pair<QString, QString> reserved[] = {
      {"con.xml", "CON"},   {"CON", "CON"},   {"Prn.xml", "PRN"},         {"aux.block.xml", "AUX"},
      {"NuL .xml", "NUL"},  {"con  ", "CON"}, {"con .", "CON"},           {"com1.xml", "COM1"},
      {"COM9.gci", "COM9"}, {"lpt5", "LPT5"}, {"com" + one, "COM" + one}, {"LPT" + three + ".x", "LPT" + three}};
  for (const auto& [name, device] : reserved) EXPECT_EQ(reservedDeviceName(name), device) << name.toStdString();
  for (const char* name :
       {"CONSOLE.xml", "com10.xml", "com0.xml", "lpt.xml", "nul_x.xml", " con.xml", "x.con", ".con", ""}) {
    EXPECT_EQ(reservedDeviceName(name), QString()) << name;
  }
}

TEST(DeviceNamesTest, RefusedOnWindowsOnly) {
#if defined(Q_OS_WIN)
  EXPECT_EQ(reservedNameReason("D:/dir/nul.gci"), QStringLiteral("NUL is a device name reserved on Windows"));
#else
  EXPECT_EQ(reservedNameReason("/dir/nul.gci"), QString());
#endif
  EXPECT_EQ(reservedNameReason("con/block.xml"), QString());
}

#if defined(Q_OS_WIN)
// Every path but a \\?\ one is resolved as Windows resolves it, \\.\ paths
// too; a path with no drive or UNC spelling stays absolute.
TEST(SystemPathTest, ResolvesAsWindowsDoes) {
  const struct {
    const char* given;
    const char* system;     // for the Qt file classes
    const wchar_t* native;  // for the system's own calls
  } cases[] = {
      {"\\\\.\\D:\\survey\\dir\\..\\dir\\block.xml", "D:\\survey\\dir\\block.xml",
       L"\\\\?\\D:\\survey\\dir\\block.xml"},
      {"D:\\survey\\.\\block.xml  . ", "D:\\survey\\block.xml", L"\\\\?\\D:\\survey\\block.xml"},
      {"\\\\?\\D:\\survey\\..\\block.xml.", "D:\\survey\\..\\block.xml.", L"\\\\?\\D:\\survey\\..\\block.xml."},
      {"\\\\?\\UNC\\nas\\share\\block.xml", "\\\\nas\\share\\block.xml", L"\\\\?\\UNC\\nas\\share\\block.xml"},
      {"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\survey\\block.xml",
       "\\\\.\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\survey\\block.xml",
       L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\survey\\block.xml"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(systemPath(QString::fromLatin1(c.given)), QString::fromLatin1(c.system)) << c.given;
    EXPECT_EQ(nativePath(QString::fromLatin1(c.given)), std::wstring(c.native)) << c.given;
  }
}
#endif

}  // namespace

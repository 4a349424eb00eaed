#include "platform/file_path.h"

#include "tests/support/qt_print.h"
#include "tests/support/scratch_files.h"

#include <gtest/gtest.h>

#include <QChar>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
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
TEST(ResolvedPathTest, ResolvesAsWindowsDoes) {
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
    const ResolvedPath resolved(QString::fromLatin1(c.given));
    EXPECT_EQ(resolved.forQt(), QString::fromLatin1(c.system)) << c.given;
    EXPECT_EQ(resolved.forSystem(), std::wstring(c.native)) << c.given;
  }
}
#endif

// The reader opens a file by forQt(), the writer and the identity check by
// forSystem(): however the path is spelled, both reach the one file.
TEST(ResolvedPathTest, BothSpellingsReachTheSameFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir("survey"));
  const QString file = dir.path() + "/survey/block.xml";
  ASSERT_TRUE(writeFile(file, "the block"));
  QStringList spellings = {file, dir.path() + "/survey/../survey/./block.xml"};
#if defined(Q_OS_WIN)
  const QString native = QDir::toNativeSeparators(file);
  spellings << native + ". . "
            << "\\\\.\\" + native << "\\\\?\\" + native
            << "\\\\.\\" + QDir::toNativeSeparators(dir.path()) + "\\survey\\..\\survey\\block.xml";
#endif
  for (const QString& spelling : spellings) {
    const ResolvedPath resolved(spelling);
    QFile byQt(resolved.forQt());
    ASSERT_TRUE(byQt.open(QIODevice::ReadOnly)) << spelling.toStdString();
    EXPECT_EQ(byQt.readAll(), QByteArray("the block")) << spelling.toStdString();
#if defined(Q_OS_WIN)
    std::FILE* const bySystem = _wfopen(resolved.forSystem().c_str(), L"rb");
#else
    std::FILE* const bySystem = std::fopen(resolved.forSystem().c_str(), "rb");
#endif
    ASSERT_NE(bySystem, nullptr) << spelling.toStdString();
    char text[16] = {};
    const std::size_t got = std::fread(text, 1, sizeof text, bySystem);
    std::fclose(bySystem);
    EXPECT_EQ(std::string(text, got), "the block") << spelling.toStdString();
  }
}

}  // namespace

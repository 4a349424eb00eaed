#include "tests/support/scratch_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush()) return true;
  ADD_FAILURE() << "cannot write " << path.toStdString() << ": " << file.errorString().toStdString();
  return false;
}

bool writeFile(const QString& path, const std::string& bytes) {
  return writeFile(path, QByteArray::fromRawData(bytes.data(), static_cast<int>(bytes.size())));
}

bool writeFile(const QString& path, const char* bytes) { return writeFile(path, QByteArray(bytes)); }

std::string readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "cannot read " << path.toStdString() << ": " << file.errorString().toStdString();
    return std::string();
  }
  return file.readAll().toStdString();
}

std::vector<std::string> listDir(const QString& dir) {
  std::vector<std::string> names;
  const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
  for (const QString& name : QDir(dir).entryList(all, QDir::Name)) names.push_back(name.toStdString());
  return names;
}

bool exists(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

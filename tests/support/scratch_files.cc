#include "tests/support/scratch_files.h"

#include <QDir>
#include <QFile>
#include <QString>

std::string readFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return std::string();
  return file.readAll().toStdString();
}

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
  for (const QString& name : QDir(QString::fromStdString(dir)).entryList(all, QDir::Name)) {
    names.push_back(name.toStdString());
  }
  return names;
}

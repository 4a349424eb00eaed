#include "tests/support/log_capture.h"

#include "tests/support/log_forms.h"

#include <QLoggingCategory>
#include <QtGlobal>

#include <gtest/gtest.h>

namespace {

QStringList* target = nullptr;
QtMessageHandler previous = nullptr;

void capture(QtMsgType, const QMessageLogContext&, const QString& message) {
  if (target) target->append(message);
}

}  // namespace

LogCapture::LogCapture(Check check) : check_(check) {
  target = &lines_;
  QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
  previous = qInstallMessageHandler(capture);
}

LogCapture::~LogCapture() {
  qInstallMessageHandler(previous);
  target = nullptr;
  if (check_ == Check::None) return;
  for (const QString& line : lines_) {
    EXPECT_TRUE(isCatalogued(line)) << "a line log/log_lines.def lacks: " << line.toStdString();
  }
}

#include "tests/support/log_capture.h"

#include <QLoggingCategory>
#include <QtGlobal>

namespace {

QStringList* target = nullptr;
QtMessageHandler previous = nullptr;

void capture(QtMsgType, const QMessageLogContext&, const QString& message) {
  if (target) target->append(message);
}

}  // namespace

LogCapture::LogCapture() {
  target = &lines_;
  QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
  previous = qInstallMessageHandler(capture);
}

LogCapture::~LogCapture() {
  qInstallMessageHandler(previous);
  target = nullptr;
}

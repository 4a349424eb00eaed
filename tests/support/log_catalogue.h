#pragma once

// Log lines against the catalogue (log/log_lines.def): which entry's form
// a line has.

#include "log/log_lines.h"
#include "tests/support/log_forms.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The first catalogue entry whose form `line` has (as the catalogue's
// notation reads), or null when there is none.
const LogLine* catalogueEntry(const std::string& line);
const LogLine* catalogueEntry(const QString& line);

// Whether every one of `lines` has a catalogue entry; names those that have
// none.
testing::AssertionResult allCatalogued(const std::vector<std::string>& lines);

// The kinds after `first` and before `last`, in catalogue order.
std::vector<LogLineKind> kindsBetween(LogLineKind first, LogLineKind last);

// The warnings about what a block says: the entries between FilePath and
// GenerateFile.
std::vector<LogLineKind> blockWarningKinds();

// The lines that close a conversion that wrote its file, after its summary:
// the entries between Written and NothingWritten, in the order they come.
std::vector<LogLineKind> conversionEndKinds();

// Those of `lines` whose entries are of `kinds`, in their order, each with
// the line that counts the rest of its kind ("Warning: and K more ...")
// where that comes right after it; so that a test about some kinds of
// warning is not upset by others its block may show. The warnings checked
// point by point (an empty name, blanks, measurements outside their image)
// come mixed, and their counts after them all: a test of the count of one
// of those kinds gives its block none of the others.
QStringList linesOfKinds(const QStringList& lines, const std::vector<LogLineKind>& kinds);

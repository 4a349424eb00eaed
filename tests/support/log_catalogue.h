#pragma once

// Log lines against the catalogue (log/log_lines.def): which entry's form
// a line has.

#include "log/log_lines.h"

#include <QString>

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

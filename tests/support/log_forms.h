#pragma once

// Matching log lines against the catalogue's forms, for code that needs no
// more of the catalogue: it does not include it, so that editing an entry
// leaves that code as it is.

#include <QString>

#include <string>

// Whether `line` has the form of a catalogue entry (as the catalogue's
// notation reads).
bool isCatalogued(const std::string& line);
bool isCatalogued(const QString& line);

// Whether `form` is the form of the first catalogue entry whose form `line`
// has.
bool hasCatalogueForm(const std::string& line, const std::string& form);

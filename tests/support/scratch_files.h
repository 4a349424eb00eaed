#pragma once

// Looking at the files a run of the tool left behind.

#include <string>
#include <vector>

// The whole content of the file at `path`; empty when it cannot be read.
std::string readFile(const std::string& path);

// Every entry of the directory `dir`, hidden ones included, sorted by name.
std::vector<std::string> listDir(const std::string& dir);

// Reads the export and import tables of a PE file on disk.
#pragma once
#include <string>
#include <vector>

struct PeImport {
  std::string dll;
  std::string function;  // empty for imports by ordinal
};

struct PeImage {
  bool ok = false;
  bool is32 = false;
  std::string exportModuleName;
  std::vector<std::string> exports;
  std::vector<PeImport> imports;
};

PeImage readPeImage(const std::string &path);

// Reads the export and import tables of a PE file on disk.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PeImport {
  std::string dll;
  std::string function;  // empty for imports by ordinal
};

struct PeImage {
  bool ok = false;
  bool is32 = false;      // PE32 (optional-header magic 0x10B); PE32+ otherwise
  uint16_t machine = 0;   // 0x14C i386, 0x8664 x86-64
  std::string exportModuleName;
  std::vector<std::string> exports;
  std::vector<PeImport> imports;
};

PeImage readPeImage(const std::string &path);

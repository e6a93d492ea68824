// Whole-file reading and writing over a C stream, shared by the skins: each opens the file its
// own way (by UTF-8 name natively, by wide-character name on Windows) and hands the stream over.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace ukt {

// Read all of f into data, or write all of data to f, and close f. A null f is an open that
// failed: errno says why. On failure why holds the reason.
bool readStream(FILE *f, std::vector<uint8_t> &data, std::string &why);
bool writeStream(FILE *f, const std::vector<uint8_t> &data, std::string &why);

}  // namespace ukt

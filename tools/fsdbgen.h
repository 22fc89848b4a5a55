// fsdbgen.h: the two inputs of fsdbgen, each turned into a FileWriter: the text description and
// a VCD file. Errors name the input line; warnings are collected for the caller to print.
#ifndef FSDBGEN_H
#define FSDBGEN_H

#include <istream>
#include <string>
#include <vector>

#include "nffr_writer.h"

namespace fsdbgen {

struct Diagnostics {
    std::string error;                  // empty when the input was accepted
    std::vector<std::string> warnings;  // "line N: text"
};

// Reads a text description (see docs/file-format.md) into writer.
bool ReadDescription(std::istream& in, nffr::FileWriter* writer, Diagnostics* diag);

// Imports an IEEE 1364 VCD file as file type 0 with one byte per bit.
bool ImportVcd(std::istream& in, nffr::FileWriter* writer, Diagnostics* diag);

}  // namespace fsdbgen

#endif

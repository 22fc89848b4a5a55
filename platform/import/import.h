// import.h: the inputs of fsdbgen, which the host also runs for its dump cache: the text
// description, turned into a FileWriter, and VCD and FST files, converted in one streaming pass.
// Errors name the input line; warnings and notes are collected for the caller to print.
#ifndef VEXA_IMPORT_H
#define VEXA_IMPORT_H

#include <istream>
#include <string>
#include <vector>

#include "nffr_writer.h"

namespace fsdbgen {

constexpr int kDefaultLayout = 3;

struct Diagnostics {
    std::string error;                  // empty when the input was accepted
    std::vector<std::string> warnings;  // "line N: text"
    std::vector<std::string> notes;     // what the import changed, once per file
};

// Reads a text description (see docs/file-format.md) into writer.
bool ReadDescription(std::istream& in, nffr::FileWriter* writer, Diagnostics* diag);

// The file that receives a VCD's reals and events next to output: "run.fsdb" gives
// "run.analog.fsdb", "run" gives "run.analog". A split file's number stays at its place
// ("run_1.fsdb" gives "run.analog_1.fsdb", "run.fsdb.1" gives "run.analog.fsdb.1"), so the
// chain of companions is followed from the first one as the files' chain from the first file.
std::string AnalogCompanionName(const std::string& output);

// Imports a VCD file, plain or gzip-compressed: logic variables into output (file type 0),
// reals and events into AnalogCompanionName(output) (file type 1) when there are any.
// written receives one line per file written, naming it and what it holds. readBlock: bytes
// read at a time, 0 for the default 1 MiB (tests and the fuzzer cut words across reads with a
// small one); a word, or a value with its code, may not exceed it plus the widest variable.
// layout: of the files written, 3 or 2 (changes streamed to the file as they come, in compressed
// segments, with flat memory; 3 with a short header) or 1 (every change held in memory until the
// end).
bool ConvertVcd(const std::string& input, const std::string& output, Diagnostics* diag,
                std::vector<std::string>* written, size_t readBlock = 0,
                int layout = kDefaultLayout);

// True when path begins as an FST file does.
bool LooksLikeFst(const std::string& path);

// True when this build reads FST files (the FST library's sources were found at build time).
bool FstSupported();

// Imports an FST file as ConvertVcd does a VCD: every variable kind arrives as its VCD
// equivalent would. Without the FST library it fails with one line naming what to install.
bool ConvertFst(const std::string& input, const std::string& output, Diagnostics* diag,
                std::vector<std::string>* written, int layout = kDefaultLayout);

// False (diag->error set) when writing output or its companion would replace input.
bool CheckOutputs(const std::string& input, const std::string& output, Diagnostics* diag);

}  // namespace fsdbgen

#endif

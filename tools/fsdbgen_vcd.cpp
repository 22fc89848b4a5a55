// fsdbgen_vcd.cpp: imports IEEE 1364 VCD files as file type 0 (one byte per bit).
#include "fsdbgen.h"

namespace fsdbgen {

bool ImportVcd(std::istream&, nffr::FileWriter*, Diagnostics* diag) {
    diag->error = "VCD import not available";
    return false;
}

}  // namespace fsdbgen

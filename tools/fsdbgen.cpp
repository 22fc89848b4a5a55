// fsdbgen.cpp: writes an FSDB file from a text description (fsdbgen DESC OUT) or imports a
// VCD file (fsdbgen --vcd IN.vcd OUT).
#include "fsdbgen.h"

#include <cstring>
#include <fstream>
#include <iostream>

namespace {

int Usage()
{
    std::cerr << "usage: fsdbgen DESCRIPTION OUT.fsdb\n"
                 "       fsdbgen --vcd IN.vcd OUT.fsdb\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool vcd = argc == 4 && std::strcmp(argv[1], "--vcd") == 0;
    if (argc != 3 && !vcd)
        return Usage();
    const char* input = argv[vcd ? 2 : 1];
    const char* output = argv[vcd ? 3 : 2];
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::cerr << "fsdbgen: cannot read \"" << input << "\"\n";
        return 1;
    }
    nffr::FileWriter writer;
    fsdbgen::Diagnostics diag;
    const bool ok =
        vcd ? fsdbgen::ImportVcd(in, &writer, &diag) : fsdbgen::ReadDescription(in, &writer, &diag);
    for (const std::string& w : diag.warnings)
        std::cerr << "fsdbgen: " << input << ": warning: " << w << "\n";
    if (!ok) {
        std::cerr << "fsdbgen: " << input << ": " << diag.error << "\n";
        return 1;
    }
    std::string error;
    if (!writer.Write(output, &error)) {
        std::cerr << "fsdbgen: " << error << "\n";
        return 1;
    }
    return 0;
}

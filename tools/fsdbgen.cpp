// fsdbgen.cpp: writes an FSDB file from a text description (fsdbgen DESC OUT) or imports a
// VCD or FST file (fsdbgen --vcd IN.vcd OUT, fsdbgen --fst IN.fst OUT).
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "import.h"

namespace {

const char kUsage[] =
    "usage: fsdbgen DESCRIPTION OUT.fsdb      write an FSDB file from a text description\n"
    "       fsdbgen --layout 1|2|3 DESCRIPTION OUT.fsdb\n"
    "                                          the same in layout 1 (uncompressed), 2\n"
    "                                          (compressed) or 3 (compact, the default)\n"
    "       fsdbgen --vcd IN.vcd[.gz] OUT.fsdb  import a VCD file; its reals and events go to\n"
    "                                          OUT.analog.fsdb (IN - reads standard input)\n"
    "       fsdbgen --fst IN.fst OUT.fsdb       import an FST file the same way (also found\n"
    "                                          by its content without --fst)\n"
    "       --layout 1 before --vcd or --fst imports into layout 1, holding every change in\n"
    "       memory until the end; layouts 2 and 3 (the default) are written as the changes\n"
    "       come, with memory that does not grow with the dump\n"
    "       fsdbgen --help\n";

int UsageError(const std::string& message)
{
    std::cerr << "fsdbgen: " << message << "\n" << kUsage;
    return 2;
}

bool EndsWith(const std::string& text, const char* tail)
{
    const size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

bool LooksLikeVcd(const std::string& path)
{
    if (EndsWith(path, ".vcd") || EndsWith(path, ".vcd.gz"))
        return true;
    std::ifstream in(path, std::ios::binary);
    char first = 0;
    in >> first;
    return first == '$' || first == '\x1f';
}

void PrintDiagnostics(const std::string& input, const fsdbgen::Diagnostics& diag)
{
    for (const std::string& w : diag.warnings)
        std::cerr << "fsdbgen: " << input << ": warning: " << w << "\n";
    for (const std::string& n : diag.notes)
        std::cerr << "fsdbgen: " << input << ": " << n << "\n";
}

int Import(bool fst, const std::string& input, const std::string& output, int layout)
{
    fsdbgen::Diagnostics diag;
    std::vector<std::string> written;
    const bool ok = fst ? fsdbgen::ConvertFst(input, output, &diag, &written, layout)
                        : fsdbgen::ConvertVcd(input, output, &diag, &written, 0, layout);
    PrintDiagnostics(input, diag);
    for (const std::string& w : written)
        std::cout << "wrote " << w << "\n";
    if (!ok) {
        std::cerr << "fsdbgen: " << diag.error << "\n";
        return 1;
    }
    return 0;
}

int WriteDescription(const std::string& input, const std::string& output, int layout)
{
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::cerr << "fsdbgen: cannot read \"" << input << "\": " << std::strerror(errno) << "\n";
        return 1;
    }
    nffr::FileWriter writer;
    writer.SetLayout(layout);
    fsdbgen::Diagnostics diag;
    const bool ok = fsdbgen::ReadDescription(in, &writer, &diag);
    PrintDiagnostics(input, diag);
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

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    int layout = fsdbgen::kDefaultLayout;
    if (!args.empty() && args[0] == "--layout") {
        if (args.size() < 2 || (args[1] != "1" && args[1] != "2" && args[1] != "3"))
            return UsageError("--layout needs 1, 2 or 3");
        layout = args[1][0] - '0';
        args.erase(args.begin(), args.begin() + 2);
    }
    const bool vcd = !args.empty() && args[0] == "--vcd";
    const bool fst = !args.empty() && args[0] == "--fst";
    if (vcd || fst)
        args.erase(args.begin());
    if (!args.empty() && args[0].size() > 1 && args[0][0] == '-')
        return UsageError("unknown option \"" + args[0] + "\"");
    if (args.empty())
        return UsageError(vcd   ? "--vcd needs the VCD file to read and the FSDB file to write"
                          : fst ? "--fst needs the FST file to read and the FSDB file to write"
                                : "missing the input and the output file names");
    if (args.size() == 1)
        return UsageError("missing the output file name after \"" + args[0] + "\"");
    if (args.size() > 2)
        return UsageError("too many arguments");
    if (vcd || fst)
        return Import(fst, args[0], args[1], layout);
    if (fsdbgen::LooksLikeFst(args[0]))
        return Import(true, args[0], args[1], layout);
    if (LooksLikeVcd(args[0]))
        return UsageError("\"" + args[0] + "\" is a VCD file; import it with: fsdbgen --vcd " +
                          args[0] + " " + args[1]);
    return WriteDescription(args[0], args[1], layout);
}

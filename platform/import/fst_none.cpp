// fst_none.cpp: the FST import of a build without the FST library's sources: it names the
// package that holds them.
#include "import.h"

namespace fsdbgen {

bool FstSupported()
{
    return false;
}

bool ConvertFst(const std::string&, const std::string&, Diagnostics* diag,
                std::vector<std::string>*, int)
{
    diag->error =
        "cannot read FST files: fsdbgen was built without the FST library; install Debian's "
        "verilator package, which holds its sources, and build again";
    return false;
}

}  // namespace fsdbgen

// nffr_make_corpus.cpp: writes the fuzzer's seed corpus (small files of each kind) into a folder.
#include <string>

#include "nffr_writer.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string dir = argv[1];
    nffr::FileWriter reals;
    reals.SetStamp("seed");
    reals.BeginScope("top");
    int v = reals.AddVar("v", 'v', 1);
    reals.AddReal(v, 0, 1.0);
    reals.AddReal(v, 10, 2.0);
    int f = reals.AddVar("f", 'i', 1, 2);
    reals.AddReal(f, 3, 0.5);
    reals.SetCountUnknown(f);
    reals.AddAlias("v_alias", v);
    int d = reals.AddVar("d", 0, 2);
    reals.AddBits(d, 1, "0x");
    reals.EndScope();

    nffr::FileWriter bits;
    bits.SetFileType(0);
    bits.SetTimeUnit("1ps");
    bits.BeginScope("a");
    bits.BeginScope("b/c");
    int bus = bits.AddVar("bus[3:0]", 0, 4);
    for (uint64_t t = 0; t < 8; ++t)
        bits.AddBits(bus, t * 5, t % 2 ? "01xz" : "1100");
    bits.AddVar("quiet", 0, 1);
    bits.EndScope();
    bits.EndScope();

    nffr::FileWriter empty;
    bool ok = reals.Write(dir + "/reals.fsdb") && bits.Write(dir + "/bits.fsdb") &&
              empty.Write(dir + "/empty.fsdb");
    return ok ? 0 : 1;
}

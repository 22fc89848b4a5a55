// sim_main.cpp: drives the scale benchmark's design: a clock of 10 ns, reset for two cycles,
// traced into a VCD until it reaches a size in bytes or a number of cycles.
//   sim OUT.vcd BYTES CYCLES
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "Vtop.h"
#include "verilated.h"
#include "verilated_vcd_c.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUT.vcd BYTES CYCLES\n", argv[0]);
        return 2;
    }
    const long long bytes = std::atoll(argv[2]);
    const long long cycles = std::atoll(argv[3]);
    Verilated::traceEverOn(true);
    auto top = std::make_unique<Vtop>();
    auto vcd = std::make_unique<VerilatedVcdC>();
    top->trace(vcd.get(), 99);
    vcd->open(argv[1]);
    long long cycle = 0;
    for (; cycle < cycles; ++cycle) {
        top->rst = cycle < 2;
        top->clk = 1;
        top->eval();
        vcd->dump(static_cast<uint64_t>(cycle) * 10000);
        top->clk = 0;
        top->eval();
        vcd->dump(static_cast<uint64_t>(cycle) * 10000 + 5000);
        if (cycle % 16 == 15) {  // the size on disk, every 16 cycles
            vcd->flush();
            struct stat st;
            if (stat(argv[1], &st) == 0 && st.st_size >= bytes)
                break;
        }
    }
    vcd->close();
    std::printf("%lld cycles\n", cycle + 1);
    return 0;
}

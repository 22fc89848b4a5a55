// host_core.h: the host core's own C++ accessors (registered formats, waveform contents), used
// by the Tcl package and the tests; the plug-in sees only pf_format.h, wfx.h and reader_tree.h.
#ifndef VEXA_HOST_CORE_H
#define VEXA_HOST_CORE_H

#include <cstddef>
#include <string>
#include <vector>

#include "host_api.h"
#include "pf_format.h"
#include "wfx.h"

namespace vexahost {

// Registered formats, in registration order. The tables live for the life of the process.
HOST_API std::vector<const FormatHandlers*> RegisteredFormats();
// The table registered under exactly this name, or null.
HOST_API const FormatHandlers* FindFormat(const std::string& name);

// True for a kind whose y values are texts (23, 25).
HOST_API bool IsTextKind(int kind);

// What a waveform was created with, and its state.
struct WaveHeader {
    int kind = 0;
    std::string xName;
    std::string xUnit;
    std::string dataType;
    std::string name;
    std::string yUnit;
    int width = 0;
    bool done = false;
    std::size_t count = 0;
};

// False for a pointer that is not a live waveform of this library.
HOST_API bool IsLiveWave(const WfXWave* wave);
HOST_API bool ReadWaveHeader(const WfXWave* wave, WaveHeader* header);
// Sample i (i below the count) of a live waveform: its x, its numeric y (0 for text kinds) and
// its text y (null for numeric kinds). A text may be decoded into a buffer that the next
// WaveText call reuses: copy it before reading another.
HOST_API double WaveX(const WfXWave* wave, std::size_t i);
HOST_API double WaveY(const WfXWave* wave, std::size_t i);
HOST_API const char* WaveText(const WfXWave* wave, std::size_t i);
// The x values from sample i on that lie in one block of memory: *xs points at sample i's x, and
// the result is how many follow it there (0 when i is not below the count).
HOST_API std::size_t WaveXRun(const WfXWave* wave, std::size_t i, const double** xs);
// Frees a waveform and its samples; the pointer is dead afterwards. False when it was not live.
HOST_API bool DestroyWave(WfXWave* wave);

// The live waveforms of the process and their samples added up.
struct StoreCounts {
    std::size_t waves = 0;
    std::size_t samples = 0;
};
HOST_API StoreCounts CountStore();

}  // namespace vexahost

#endif

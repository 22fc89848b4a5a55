// loaders.h: the scalar and bus loaders that turn a signal's value changes into host samples.
#ifndef QUORVEL_LOADERS_H
#define QUORVEL_LOADERS_H

#include <stdint.h>
#include <tcl.h>

#include "nffr.h"
#include "reader_tree.h"
#include "wfx.h"

struct ReaderContext;

// How a load ended; it decides what the caller's handle holds afterwards.
enum LoadOutcome {
    LOAD_DONE,         // samples ready for the host
    LOAD_READ_FAILED,  // a read failed: nothing handed over, the handle gets the waveform
    LOAD_ABANDONED,    // no memory, traverser or change count: the handle keeps its value
};

// The loaders. A null *wave on entry asks for a new waveform named name; a waveform handed in
// is appended to (a further file of a split chain), and only these entry points read that
// mode from the handle. Results 0 or 1 (the host's result once samples were handed over); on
// return *wave holds what the LoadOutcome says, and null when the scalar loader has no
// traverser or the host refuses a new waveform. LoadBusWave lists every member without asking
// IsInLoadList first when force is set.
int LoadScalarWave(int idcode, Tcl_Interp* interp, ReaderContext* context, const char* name,
                   WfXWave** wave);
int LoadBusWave(ReaderTreeBus* bus, Tcl_Interp* interp, ReaderContext* context, const char* name,
                WfXWave** wave, int force);
int GrowSampleArrays(double** x, void** y, uint32_t oldCount, uint32_t newCount, uint32_t xSize,
                     uint32_t ySize);

// The host kind and width that a load of idcode from context settles to (the scalar loader's
// rules); 1 when the signal has no variable there or cannot be traversed.
int SettledShape(ReaderContext* context, int idcode, int* kind, int* width);
// A text waveform whose last sample lies at last, before the file's end tag, ends with its
// last text repeated at the end time: x[i] and y[i] (the same text as y[i - 1]: the host copies
// texts), when this is true.
bool NeedsClosingSample(const ReaderContext* context, const TimeTag* last);
void WriteClosingSample(const ReaderContext* context, double* x, char** y, uint32_t i);

#endif

// wfx.h: the host's waveform library: create a waveform, append samples, finish it.
#ifndef WFX_H
#define WFX_H

#include <tcl.h>

#include "host_api.h"

// A host waveform; owned by the host.
struct WfXWave;

// Waveform kinds and the element type of their y arrays.
enum {
    WFX_KIND_DOUBLE = 1,      // double
    WFX_KIND_FLOAT = 2,       // float
    WFX_KIND_EVENT = 22,      // double
    WFX_KIND_LOGIC = 23,      // const char* texts
    WFX_KIND_LOGIC_VEC = 25,  // const char* texts
};

extern "C" {
// A new waveform, or null (unknown kind, null names).
HOST_API WfXWave* WfX_CreateXTyp(Tcl_Interp* interp, int kind, const char* xName, const char* xUnit,
                                 const char* dataType, int reserved1, const char* name,
                                 const char* yUnit, int width, int reserved2);
// Appends count samples; 0 on success. take = 1: the host keeps x and a numeric y (freed with
// free()); take = 0: it copies them. Texts are always copied.
HOST_API int WfX_AddValuesSimp(Tcl_Interp* interp, WfXWave* wave, double* x, void* y,
                               unsigned int count, int take);
// The waveform is complete; later appends are refused. 0 on success.
HOST_API int WfX_Done(Tcl_Interp* interp, WfXWave* wave);
}

#endif

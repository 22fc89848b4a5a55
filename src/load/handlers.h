// handlers.h: the load handlers and the continuation of a load across a chain of split files.
#ifndef QUORVEL_HANDLERS_H
#define QUORVEL_HANDLERS_H

#include <tcl.h>

#include "reader_tree.h"
#include "wfx.h"

struct ReaderContext;

int Quorvel_LoadWave(Tcl_Interp* interp, ReaderContext* context, char* path, WfXWave** out);
int Quorvel_LoadWaves(Tcl_Interp* interp, ReaderContext* context, const char* paths,
                      const char* ids, WfXWave** out);
int NextSplitFileName(ReaderContext* base, ReaderContext* continuation, int n);
int ContinueSplitFile(Tcl_Interp* interp, ReaderContext* base, const char* path, ReaderTreeBus* bus,
                      int idcode, WfXWave** wave, int* n);

#endif

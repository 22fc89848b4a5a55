// handlers.h: the load handlers and the continuation of a load across a chain of split files.
#ifndef QUORVEL_HANDLERS_H
#define QUORVEL_HANDLERS_H

#include <tcl.h>

#include "reader_tree.h"
#include "wfx.h"

struct ReaderContext;

// Load-one handler. Results: 0 with *out the new waveform, continued through the split files
// when the split setting is on; 1 when the file was rewritten (the user told), the path names
// no signal (*out untouched) or the loader failed (*out as the loader left it). Side effects:
// lists the signal on the reader's load list, replaces context->varInfo, may change
// context->splitState. The host owns the waveform; it is not finished with WfX_Done.
int Quorvel_LoadWave(Tcl_Interp* interp, ReaderContext* context, char* path, WfXWave** out);
// Load-many handler. Results: the last loaded entry's result, or the id list's split status
// when no entry reached a loader; 1 for a rewritten file (out untouched). out[i] receives the
// finished waveform of path i, or 0. Side effects as for Quorvel_LoadWave, once per entry. The
// host owns every waveform handed out in out.
int Quorvel_LoadWaves(Tcl_Interp* interp, ReaderContext* context, const char* paths,
                      const char* ids, WfXWave** out);
int NextSplitFileName(ReaderContext* base, ReaderContext* continuation, int n);
int ContinueSplitFile(Tcl_Interp* interp, ReaderContext* base, const char* path, ReaderTreeBus* bus,
                      int idcode, WfXWave** wave, int* n);

// The continuation files of a split chain opened during one load-many call, so that each is
// opened (and its signal tree read) once for all the call's waveforms; only the first few are
// held open, later ones are opened once per waveform. Freeing closes them.
struct SplitFileCache;
SplitFileCache* NewSplitFileCache(void);
void FreeSplitFileCache(Tcl_Interp* interp, SplitFileCache* cache);
// ContinueSplitFile, taking continuation files from the cache (null: open and close each).
int ContinueSplitChain(Tcl_Interp* interp, ReaderContext* base, const char* path,
                       ReaderTreeBus* bus, int idcode, WfXWave** wave, int* n,
                       SplitFileCache* cache);

#endif

// handlers.h: the load handlers, the path lookups they share with the queries, and the
// continuation of a load across a chain of split files.
#ifndef QUORVEL_HANDLERS_H
#define QUORVEL_HANDLERS_H

#include <tcl.h>

#include "reader_tree.h"
#include "wfx.h"

struct ReaderContext;

// The tree node at path (one leading "/" skipped), or null.
ReaderTreeNode* LookUpPath(const ReaderContext* context, const char* path);
// The leaf's idcode; -1 for a scope, a missing node or a null path.
int PathToIdcode(const char* path, const ReaderContext* context);
// 1 and *bus set when the signal is digital and its node carries a bus; 0 otherwise.
int FindBusForVar(int idcode, ReaderContext* context, const char* path, ReaderTreeBus** bus);

int Quorvel_LoadWave(Tcl_Interp* interp, ReaderContext* context, char* path, WfXWave** out);
int Quorvel_LoadWaves(Tcl_Interp* interp, ReaderContext* context, const char* paths,
                      const char* ids, WfXWave** out);
int NextSplitFileName(ReaderContext* base, ReaderContext* continuation, int n);
int ContinueSplitFile(Tcl_Interp* interp, ReaderContext* base, const char* path, ReaderTreeBus* bus,
                      int idcode, WfXWave** wave, int* n);

// The continuation files of a split chain opened during one load-many call, so that each is
// opened (and its signal tree read) once for all the call's waveforms. Freeing closes them.
struct SplitFileCache;
SplitFileCache* NewSplitFileCache(void);
void FreeSplitFileCache(Tcl_Interp* interp, SplitFileCache* cache);
// ContinueSplitFile, taking continuation files from the cache (null: open and close each).
int ContinueSplitChain(Tcl_Interp* interp, ReaderContext* base, const char* path,
                       ReaderTreeBus* bus, int idcode, WfXWave** wave, int* n,
                       SplitFileCache* cache);

#endif

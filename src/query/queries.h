// queries.h: the file-attribute and waveform-attribute query handlers.
#ifndef QUORVEL_QUERIES_H
#define QUORVEL_QUERIES_H

#include <tcl.h>

#include "pf_format.h"

// File-attribute query handler. Results: 0 with the answer (possibly empty) in result's dynamic
// string and its answer kind set; 1 for a query shorter than two characters or not starting
// with "-" (the string initialised, the kind untouched), a malformed list or a -parentPath
// that names no scope. Side effects: the
// interpreter's result may hold a list error or the design name; the context is not changed.
// The host owns result and the answer text in it.
int Quorvel_FileInfo(Tcl_Interp* interp, ReaderContext* context, const char* query,
                     QueryResult* result);
// Waveform-attribute query handler. Results: 0 with the answer (possibly empty) in result's
// dynamic string and its answer kind set; 1 for a null name or an option shorter than two
// characters or not starting with "-" (result untouched), and for -wftype and -yunit of a
// path that names no signal. Side
// effects: -wftype and -yunit replace context->varInfo. The host owns result and its text.
int Quorvel_WaveInfo(void* unused, ReaderContext* context, const char* waveName, const char* option,
                     QueryResult* result);

#endif

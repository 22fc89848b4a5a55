// queries.h: the file-attribute and waveform-attribute query handlers.
#ifndef QUORVEL_QUERIES_H
#define QUORVEL_QUERIES_H

#include <tcl.h>

#include "pf_format.h"

int Quorvel_FileInfo(Tcl_Interp* interp, ReaderContext* context, const char* query,
                     QueryResult* result);
int Quorvel_WaveInfo(void* unused, ReaderContext* context, const char* waveName, const char* option,
                     QueryResult* result);

#endif

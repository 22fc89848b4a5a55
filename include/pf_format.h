// pf_format.h: the host's format registry: the handler table a format plug-in registers
// and the answer record of its query handlers.
#ifndef PF_FORMAT_H
#define PF_FORMAT_H

#include <stddef.h>
#include <tcl.h>

#include "host_api.h"
#include "wfx.h"

// A plug-in's per-file record; the host only passes it back to the plug-in's handlers.
struct ReaderContext;

// Answer record of the query handlers. Its layout is the host's.
struct QueryResult {
    Tcl_DString text;  // the answer
    int hostWord;      // the host's; plug-ins neither read nor write it
    int answerKind;    // PF_ANSWER_KIND once a handler has answered
};

// The answer kind that every query handler that answers writes; no other value is written.
enum { PF_ANSWER_KIND = 7 };

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(Tcl_DString) == 212, "Tcl_DString is 212 bytes");
static_assert(offsetof(QueryResult, answerKind) == 216, "answer kind 216 bytes from the start");
#endif

typedef int (*PfInfoProc)(void* unused, const char* option, QueryResult* result);
typedef int (*PfOpenProc)(Tcl_Interp* interp, const char* path, ReaderContext** out);
typedef int (*PfCloseProc)(Tcl_Interp* interp, ReaderContext* context);
typedef int (*PfFileInfoProc)(Tcl_Interp* interp, ReaderContext* context, const char* query,
                              QueryResult* result);
typedef int (*PfWaveInfoProc)(void* unused, ReaderContext* context, const char* waveName,
                              const char* option, QueryResult* result);
typedef int (*PfLoadWaveProc)(Tcl_Interp* interp, ReaderContext* context, char* path,
                              WfXWave** out);
typedef int (*PfLoadWavesProc)(Tcl_Interp* interp, ReaderContext* context, const char* paths,
                               const char* ids, WfXWave** out);

// Nine pointer-sized members in this order; the registry keeps the table for the process's life.
struct FormatHandlers {
    char* formatName;
    char* filePattern;
    PfInfoProc info;
    PfOpenProc open;
    PfCloseProc close;
    PfFileInfoProc fileInfo;
    PfWaveInfoProc waveInfo;
    PfLoadWaveProc loadWave;
    PfLoadWavesProc loadWaves;
};

// 0 when registered; 1 when the table is null, incomplete, or its format name is taken.
extern "C" HOST_API int PfFormat_CreateExternalFormat(Tcl_Interp* interp, FormatHandlers* table);

#endif

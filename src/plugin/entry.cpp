// entry.cpp: the plug-in's entry point Quorvel_Init, which registers the "FSDB" format and its
// handler table once per process, and the Windows load hook.
#include <stdio.h>
#include <stdlib.h>

#include "base/portability.h"
#include "context/context.h"
#include "load/handlers.h"
#include "plugin/quorvel.h"
#include "query/queries.h"

#if defined(_WIN32)
#include <windows.h>
#endif

// Set by the first Quorvel_Init and never cleared: a process registers the format once.
static int registered = 0;

static void FreeHandlerTable(FormatHandlers* table)
{
    free(table->formatName);
    free(table->filePattern);
    free(table);
}

// The table of the "FSDB" format, or null when it or its texts cannot be allocated.
static FormatHandlers* NewHandlerTable(void)
{
    FormatHandlers* table = (FormatHandlers*)malloc(sizeof(FormatHandlers));
    if (table == NULL) {
        return NULL;
    }
    table->formatName = _strdup("FSDB");
    table->filePattern = _strdup("fsdb*");
    table->info = Quorvel_Info;
    table->open = Quorvel_Open;
    table->close = Quorvel_Close;
    table->fileInfo = Quorvel_FileInfo;
    table->waveInfo = Quorvel_WaveInfo;
    table->loadWave = Quorvel_LoadWave;
    table->loadWaves = Quorvel_LoadWaves;
    if (table->formatName == NULL || table->filePattern == NULL) {
        FreeHandlerTable(table);
        return NULL;
    }
    return table;
}

extern "C" QUORVEL_EXPORT int Quorvel_Init(Tcl_Interp* interp)
{
    if (registered) {
        return 0;
    }
    registered = 1;
    FormatHandlers* table = NewHandlerTable();
    if (table == NULL) {
        fprintf(stderr, "Quorvel: out of memory, the FSDB format is not registered\n");
        return 0;
    }
    // The registry keeps an accepted table for the life of the process; a refused one is ours.
    if (PfFormat_CreateExternalFormat(interp, table) != 0) {
        FreeHandlerTable(table);
    }
    return 0;
}

#if defined(_WIN32)
// Load hook: no notifications of threads starting and ending; nothing else to do.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
#endif

// load_handlers.cpp: the host's load-one and load-many handlers: paths to idcodes, the load
// list, the choice between the bus and the scalar loader, and the split-file continuation.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>

#include "context/context.h"
#include "context/paths.h"
#include "context/reader_uses.h"
#include "load/handlers.h"
#include "load/loaders.h"

// Loads one resolved entry into *handle, as a bus or a scalar, and continues it through the
// split files; the loader's result. With listNow the signal (every member of a bus) is put on
// the load list and loaded here; otherwise the caller has loaded it already.
static int LoadEntry(Tcl_Interp* interp, ReaderContext* context, const char* path, int idcode,
                     WfXWave** handle, int listNow, SplitFileCache* cache)
{
    ReaderTreeBus* bus = NULL;
    int result;
    if (FindBusForVar(idcode, context, path, &bus)) {
        result = LoadBusWave(bus, interp, context, path, handle, listNow);
    } else {
        bus = NULL;
        ffrObject* reader = LiveReader(context);
        if (listNow && reader != NULL) {
            reader->AddToLoadList(idcode, 0, 0);
            LoadListed(reader);
        }
        result = LoadScalarWave(idcode, interp, context, path, handle);
    }
    if (result == 0 && context->splitState != 0) {
        int n = 1;
        ContinueSplitChain(interp, context, path, bus, idcode, handle, &n, cache);
    }
    return result;
}

// Reads an id text as "%d" would: blanks, an optional sign, digits; text after them ignored.
// False when it holds no number or one outside the range of an int.
static bool ReadIdText(const char* text, int* number)
{
    char* end = NULL;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    *number = (int)value;
    return true;
}

// The idcode of entry i: its id text when that is a number of 0 or more, else its path's.
static int ResolveEntry(ReaderContext* context, const char* path, const char** ids, int idCount,
                        int i)
{
    int number = -1;
    if (i < idCount && ReadIdText(ids[i], &number) && number >= 0) {
        return number;
    }
    return PathToIdcode(path, context);
}

int Quorvel_LoadWave(Tcl_Interp* interp, ReaderContext* context, char* path, WfXWave** out)
{
    if (context == NULL || out == NULL || CheckRewritten(context, interp) == 1 ||
        CheckChangedOnDisk(context, interp) == 1) {
        return 1;
    }
    int idcode = PathToIdcode(path, context);
    if (idcode == -1 || LiveReader(context) == NULL) {
        return 1;
    }
    *out = NULL;
    return LoadEntry(interp, context, path, idcode, out, 1, NULL);
}

static int SplitOrEmpty(Tcl_Interp* interp, const char* list, int* count, const char*** items)
{
    *count = 0;
    *items = NULL;
    if (list == NULL) {
        return TCL_OK;
    }
    int code = Tcl_SplitList(interp, list, count, items);
    if (code != TCL_OK) {
        *count = 0;
        *items = NULL;
    }
    return code;
}

int Quorvel_LoadWaves(Tcl_Interp* interp, ReaderContext* context, const char* paths,
                      const char* ids, WfXWave** out)
{
    if (context == NULL || CheckRewritten(context, interp) == 1 ||
        CheckChangedOnDisk(context, interp) == 1) {
        return 1;
    }
    ffrObject* reader = LiveReader(context);
    if (reader == NULL) {
        return 1;
    }
    int pathCount = 0;
    int idCount = 0;
    const char** pathList = NULL;
    const char** idList = NULL;
    SplitOrEmpty(interp, paths, &pathCount, &pathList);
    int returnValue = SplitOrEmpty(interp, ids, &idCount, &idList);
    int* idcodes = (int*)malloc((size_t)(pathCount > 0 ? pathCount : 1) * sizeof(int));
    if (idcodes == NULL || (pathCount > 0 && out == NULL)) {
        for (int i = 0; out != NULL && i < pathCount; i++) {
            out[i] = NULL;
        }
        returnValue = 1;
        pathCount = 0;
    }
    for (int i = 0; i < pathCount; i++) {
        idcodes[i] = ResolveEntry(context, pathList[i], idList, idCount, i);
        reader->AddToLoadList(idcodes[i], 0, 0);
    }
    if (idcodes != NULL) {
        LoadListed(reader);
    }
    // Without a cache (no memory) every waveform opens the continuation files itself.
    SplitFileCache* cache = context->splitState != 0 ? NewSplitFileCache() : NULL;
    for (int i = 0; i < pathCount; i++) {
        out[i] = NULL;
        if (idcodes[i] < 0) {
            continue;
        }
        WfXWave* handle = NULL;
        returnValue = LoadEntry(interp, context, pathList[i], idcodes[i], &handle, 0, cache);
        if (returnValue != 0) {
            continue;
        }
        WfX_Done(interp, handle);
        out[i] = handle;
    }
    FreeSplitFileCache(interp, cache);
    free(idcodes);
    if (pathList != NULL) {
        Tcl_Free((char*)pathList);
    }
    if (idList != NULL) {
        Tcl_Free((char*)idList);
    }
    return returnValue;
}

// split.cpp: following a simulation written as a chain of split files: the names of the next
// file (run_1.fsdb or run.fsdb.1) and appending each further file's samples to one waveform.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "context/reader_uses.h"
#include "context/script.h"
#include "load/handlers.h"
#include "load/loaders.h"

// path with "_n" before its last "." (or at its end), or with ".n" after it; heap text.
static char* CandidateName(const char* path, int n, int underscoreForm)
{
    char number[16];
    snprintf(number, sizeof number, underscoreForm ? "_%d" : ".%d", n);
    size_t length = strlen(path);
    const char* dot = strrchr(path, '.');
    size_t stem = underscoreForm && dot != NULL ? (size_t)(dot - path) : length;
    size_t numberLength = strlen(number);
    char* name = (char*)malloc(length + numberLength + 1);
    if (name == NULL) {
        return NULL;
    }
    memcpy(name, path, stem);
    memcpy(name + stem, number, numberLength);
    memcpy(name + stem + numberLength, path + stem, length - stem + 1);
    return name;
}

// Stores the candidate as the continuation's path and asks the host whether it exists:
// 1 exists, 0 does not, -1 the test could not be made.
static int TestCandidate(ReaderContext* base, ReaderContext* continuation, int n,
                         int underscoreForm)
{
    free(continuation->path);
    continuation->path = CandidateName(base->path, n, underscoreForm);
    if (continuation->path == NULL) {
        return -1;
    }
    if (EvalFileCommand(base->interp, "file exists ", continuation->path, "") != TCL_OK) {
        return -1;
    }
    return strcmp(Tcl_GetStringResult(base->interp), "1") == 0 ? 1 : 0;
}

int NextSplitFileName(ReaderContext* base, ReaderContext* continuation, int n)
{
    if (base == NULL || continuation == NULL || base->path == NULL) {
        return 0;
    }
    if (base->splitState == 1) {
        int found = TestCandidate(base, continuation, n, 1);
        if (found != 0) {
            return found == 1 ? 1 : 0;
        }
        base->splitState = 2;
    }
    if (base->splitState == 2) {
        int found = TestCandidate(base, continuation, n, 0);
        if (found != 0) {
            return found == 1 ? 1 : 0;
        }
        base->splitState = 1;
    }
    return 0;
}

// Opened continuation files a load-many call keeps for its other waveforms. Files past these
// are opened once per waveform instead, so that a chain of any length holds few files open.
static const int kHeldFiles = 8;

struct SplitFileCache {
    ReaderContext** files;  // opened contexts, and those whose open failed
    int* openResults;       // OpenFsdbFile's result for each file
    int count;
    int capacity;
    int held;  // entries whose open succeeded, each holding its file open
};

SplitFileCache* NewSplitFileCache(void)
{
    return (SplitFileCache*)calloc(1, sizeof(SplitFileCache));
}

void FreeSplitFileCache(Tcl_Interp* interp, SplitFileCache* cache)
{
    if (cache == NULL) {
        return;
    }
    for (int i = 0; i < cache->count; i++) {
        Quorvel_Close(interp, cache->files[i]);
    }
    free(cache->files);
    free(cache->openResults);
    free(cache);
}

// The entry for path, or -1.
static int FindCachedFile(const SplitFileCache* cache, const char* path)
{
    for (int i = 0; i < cache->count; i++) {
        if (strcmp(cache->files[i]->path, path) == 0) {
            return i;
        }
    }
    return -1;
}

// Keeps an opened (or refused) continuation for the rest of the call; 0 when there is no room
// or it would hold more than kHeldFiles files open.
static int CacheFile(SplitFileCache* cache, ReaderContext* file, int openResult)
{
    if (openResult == 0 && cache->held >= kHeldFiles) {
        return 0;
    }
    if (cache->count == cache->capacity) {
        int capacity = cache->capacity == 0 ? 4 : cache->capacity * 2;
        ReaderContext** files =
            (ReaderContext**)realloc(cache->files, (size_t)capacity * sizeof(ReaderContext*));
        if (files == NULL) {
            return 0;
        }
        cache->files = files;
        int* results = (int*)realloc(cache->openResults, (size_t)capacity * sizeof(int));
        if (results == NULL) {
            return 0;
        }
        cache->openResults = results;
        cache->capacity = capacity;
    }
    cache->files[cache->count] = file;
    cache->openResults[cache->count] = openResult;
    cache->count++;
    cache->held += openResult == 0 ? 1 : 0;
    return 1;
}

// 1 when the signal (every member of a bus) settles to the same host kind and width in the
// continuation as in the base file: only then may its samples go to the same waveform.
static int SameShape(ReaderContext* base, ReaderContext* continuation, ReaderTreeBus* bus,
                     int idcode)
{
    uint32_t width = bus != NULL ? bus->GetBusWidth() : 1;
    int* ids = (int*)malloc((size_t)(width > 0 ? width : 1) * sizeof(int));
    if (ids == NULL || width == 0) {
        free(ids);
        return 0;
    }
    if (bus != NULL) {
        bus->GetBusIds(ids);
    } else {
        ids[0] = idcode;
    }
    int same = 1;
    for (uint32_t m = 0; m < width && same; m++) {
        int baseKind = 0, baseWidth = 0, kind = 0, bits = 0;
        same = SettledShape(base, ids[m], &baseKind, &baseWidth) == 0 &&
               SettledShape(continuation, ids[m], &kind, &bits) == 0 && kind == baseKind &&
               bits == baseWidth;
    }
    free(ids);
    return same;
}

// Appends the signal's samples from an opened continuation to wave; the loader's result, or 1
// when the signal there cannot go to that waveform. *ended tells whether the chain stops here.
static int AppendFromFile(Tcl_Interp* interp, ReaderContext* base, ReaderContext* file,
                          const char* path, ReaderTreeBus* bus, int idcode, WfXWave* wave,
                          int* ended)
{
    ffrObject* reader = LiveReader(file);
    if (reader == NULL) {
        return 1;
    }
    reader->AddToLoadList(idcode, 0, 0);
    LoadListed(reader);
    // Another kind or width there (a logic signal become real, floats become doubles) would
    // hand the host a y array it does not expect: the chain ends before that file.
    if (!SameShape(base, file, bus, idcode)) {
        return 1;
    }
    WfXWave* handle = wave;
    int result = bus != NULL ? LoadBusWave(bus, interp, file, path, &handle, 0)
                             : LoadScalarWave(idcode, interp, file, path, &handle);
    *ended = result != 0;
    return result;
}

// Opens an existing continuation file. One that cannot be opened (no permission, too many
// open files) or read as an FSDB file ends the chain; the user is told which file and why, so
// that the waveform's missing end is never taken for the whole simulation.
static int OpenReadable(ReaderContext* candidate)
{
    const char* reason = "it is not a readable FSDB file";
    FILE* probe = fopen(candidate->path, "rb");
    int result = 1;
    if (probe == NULL) {
        reason = strerror(errno);
    } else {
        fclose(probe);
        result = OpenFsdbFile(candidate);
    }
    if (result != 0) {
        fprintf(stderr,
                "Split file \"%s\" exists but cannot be opened: %s; the waveform ends with the "
                "file before it.\n",
                candidate->path, reason);
    }
    return result;
}

// The continuation for the candidate just named: from the cache (opened at most once per cache)
// or opened now. *owned tells whether the caller must close it.
static ReaderContext* OpenContinuation(ReaderContext* base, ReaderContext* candidate,
                                       SplitFileCache* cache, int* openResult, int* owned)
{
    *owned = 1;
    if (cache != NULL) {
        int i = FindCachedFile(cache, candidate->path);
        if (i >= 0) {
            *openResult = cache->openResults[i];
            return cache->files[i];
        }
    }
    candidate->showBus = base->showBus;
    *openResult = OpenReadable(candidate);
    if (cache != NULL && CacheFile(cache, candidate, *openResult)) {
        *owned = 0;
    }
    return candidate;
}

// Opens split file *n and appends its samples to wave. 0 when there is no such file, the
// open's failure code, or the load's result; *ended tells whether the chain stops here.
static int ContinueOneFile(Tcl_Interp* interp, ReaderContext* base, const char* path,
                           ReaderTreeBus* bus, int idcode, WfXWave* wave, int n,
                           SplitFileCache* cache, int* ended)
{
    *ended = 1;
    ReaderContext* candidate = (ReaderContext*)malloc(sizeof(ReaderContext));
    if (candidate == NULL) {
        Tcl_ResetResult(interp);
        return 1;
    }
    InitContext(candidate);
    candidate->interp = interp;
    int result = 0;
    int owned = 1;
    if (NextSplitFileName(base, candidate, n)) {
        ReaderContext* file = OpenContinuation(base, candidate, cache, &result, &owned);
        if (file != candidate) {
            Quorvel_Close(interp, candidate);
            owned = 0;
        }
        if (result == 0) {
            result = AppendFromFile(interp, base, file, path, bus, idcode, wave, ended);
        }
    }
    if (owned) {
        Quorvel_Close(interp, candidate);
    }
    Tcl_ResetResult(interp);
    return result;
}

int ContinueSplitChain(Tcl_Interp* interp, ReaderContext* base, const char* path,
                       ReaderTreeBus* bus, int idcode, WfXWave** wave, int* n,
                       SplitFileCache* cache)
{
    if (base == NULL || wave == NULL || n == NULL) {
        return 1;
    }
    // Each file is released before the next one is opened (unless a cache keeps it, one of at
    // most kHeldFiles, for the other waveforms of a load-many call), so a chain of any length
    // holds few continuation files open at a time. The result is that of the first further file.
    int ended = 0;
    int result = ContinueOneFile(interp, base, path, bus, idcode, *wave, *n, cache, &ended);
    while (!ended) {
        (*n)++;
        ContinueOneFile(interp, base, path, bus, idcode, *wave, *n, cache, &ended);
    }
    return result;
}

int ContinueSplitFile(Tcl_Interp* interp, ReaderContext* base, const char* path, ReaderTreeBus* bus,
                      int idcode, WfXWave** wave, int* n)
{
    return ContinueSplitChain(interp, base, path, bus, idcode, wave, n, NULL);
}

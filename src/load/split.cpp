// split.cpp: following a simulation written as a chain of split files: the names of the next
// file (run_1.fsdb or run.fsdb.1) and appending each further file's samples to one waveform.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
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
    if (EvalWithLiteralPath(base->interp, "file exists ", continuation->path, "") != TCL_OK) {
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

// Opens split file *n and appends its samples to wave. 0 when there is no such file, the
// open's failure code, or the load's result; *ended tells whether the chain stops here.
static int ContinueOneFile(Tcl_Interp* interp, ReaderContext* base, const char* path,
                           ReaderTreeBus* bus, int idcode, WfXWave* wave, int n, int* ended)
{
    *ended = 1;
    ReaderContext* continuation = (ReaderContext*)malloc(sizeof(ReaderContext));
    if (continuation == NULL) {
        Tcl_ResetResult(interp);
        return 1;
    }
    InitContext(continuation);
    continuation->interp = interp;
    int result = 0;
    if (NextSplitFileName(base, continuation, n)) {
        continuation->showBus = base->showBus;
        result = OpenFsdbFile(continuation);
        ffrObject* reader = result == 0 ? LiveReader(continuation) : NULL;
        if (result == 0 && reader == NULL) {
            result = 1;
        }
        if (reader != NULL) {
            reader->AddToLoadList(idcode, 0, 0);
            reader->LoadListedSignals();
            WfXWave* handle = wave;
            result = bus != NULL ? LoadBusWave(bus, interp, continuation, path, &handle, 0)
                                 : LoadScalarWave(idcode, interp, continuation, path, &handle);
            *ended = result != 0;
        }
    }
    Quorvel_Close(interp, continuation);
    Tcl_ResetResult(interp);
    return result;
}

int ContinueSplitFile(Tcl_Interp* interp, ReaderContext* base, const char* path, ReaderTreeBus* bus,
                      int idcode, WfXWave** wave, int* n)
{
    if (base == NULL || wave == NULL || n == NULL) {
        return 1;
    }
    // Each file is released before the next one is opened, so a chain of any length holds
    // one continuation file open at a time. The result is that of the first further file.
    int ended = 0;
    int result = ContinueOneFile(interp, base, path, bus, idcode, *wave, *n, &ended);
    while (!ended) {
        (*n)++;
        ContinueOneFile(interp, base, path, bus, idcode, *wave, *n, &ended);
    }
    return result;
}

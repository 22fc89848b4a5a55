// context.cpp: the per-file reader context: opening and closing a file, the refresh of a file
// the host already holds, and the detection of a file rewritten on disk since it was opened.
#include "context/context.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "base/portability.h"
#include "base/sinks.h"
#include "context/reader_uses.h"
#include "context/script.h"
#include "context/timescale.h"
#include "context/tree_build.h"

namespace {

const int kStampBufferSize = 2048;
const char kRewrittenMessage[] = "Data file was rewritten. Please reload.\n";

// True with *value set when script evaluates and its result reads as an integer (atoi).
bool ReadIntSetting(Tcl_Interp* interp, const char* script, int* value)
{
    Tcl_ResetResult(interp);
    if (Tcl_Eval(interp, script) != TCL_OK) {
        return false;
    }
    *value = atoi(Tcl_GetStringResult(interp));
    return true;
}

// True when the host already holds the path open and the reader says the file changed.
bool RefreshNeeded(ReaderContext* context, ffrObject* reader)
{
    if (context->interp == NULL) {
        return false;
    }
    Tcl_ResetResult(context->interp);
    if (EvalWithLiteralPath(context->interp, "llength [pf:info open ", context->path, "]") !=
        TCL_OK) {
        return false;
    }
    if (atoi(Tcl_GetStringResult(context->interp)) <= 0) {
        return false;
    }
    unsigned char flag = 0;
    return reader->NeedsReopen(&flag) != 0;
}

// Opens the reader object and records the use; null (use released) on failure.
ffrObject* OpenReader(ReaderContext* context, unsigned* serial)
{
    ffrObject* reader = ffrObject::ffrOpen2(context->path, TreeCallback, context, 0);
    if (reader == NULL) {
        fprintf(stderr, "ffrObject::ffrOpen2() failed.\n");
        return NULL;
    }
    *serial = TakeReaderUse(reader);
    if (*serial == 0) {
        reader->Close();
        return NULL;
    }
    return reader;
}

// Drops every use the plug-in's contexts hold on the stale object, so that it goes away and
// the earlier contexts of the path know theirs no longer counts; then opens the file afresh.
ffrObject* ReopenReader(ReaderContext* context, ffrObject* stale, unsigned* serial)
{
    int uses = RecordedReaderUses(stale);
    stale->ReleaseForReopen();
    ForgetReader(stale);
    for (int i = 0; i < uses; i++) {
        stale->Close();
    }
    return OpenReader(context, serial);
}

void ReleaseUse(unsigned serial)
{
    ffrObject* reader = DropReaderUse(serial);
    if (reader != NULL) {
        reader->Close();
    }
}

// The stamp as the file on disk carries it now, always terminated.
void ReadStamp(ffrObject* reader, char* buffer)
{
    buffer[0] = '\0';
    reader->GetStamp(buffer);
    buffer[kStampBufferSize - 1] = '\0';
}

// Keeps the file's creation stamp; false when the copy cannot be made.
bool RecordStamp(ReaderContext* context, ffrObject* reader)
{
    if (reader->HasStamp() != 1) {
        return true;
    }
    char buffer[kStampBufferSize];
    ReadStamp(reader, buffer);
    context->stamp = _strdup(buffer);
    return context->stamp != NULL;
}

void TellRewritten(Tcl_Interp* interp)
{
    if (interp == NULL) {
        return;
    }
    // Inside the host's application the setting exists and is 1; a setting of 0 is not it.
    int exists = 0;
    int application = 0;
    if (ReadIntSetting(interp, "global Scope; info exists Scope(Application)", &exists) &&
        exists == 1 &&
        ReadIntSetting(interp, "global Scope; set Scope(Application)", &application) &&
        application == 1) {
        Tcl_Eval(interp, "VexaMessage \"Data file was rewritten. Please reload.\n\" error Error");
        Tcl_ResetResult(interp);
        return;
    }
    Tcl_SetResult(interp, (char*)kRewrittenMessage, TCL_VOLATILE);
}

}  // namespace

void InitContext(ReaderContext* context)
{
    memset(context, 0, sizeof(*context));
    context->timeScale = 1.0;
    context->splitState = 0;
    context->tree = new (std::nothrow) ReaderTree();
    // A tree that got no memory for its root cannot hold the file's signals.
    if (context->tree != NULL && context->tree->rootNode == NULL) {
        delete context->tree;
        context->tree = NULL;
    }
}

int Quorvel_Open(Tcl_Interp* interp, const char* path, ReaderContext** out)
{
    if (out == NULL) {
        return 1;
    }
    *out = NULL;
    ReaderContext* context = (ReaderContext*)malloc(sizeof(ReaderContext));
    if (context == NULL) {
        return 1;
    }
    InitContext(context);
    context->interp = interp;
    context->path = path == NULL ? NULL : _strdup(path);
    if (interp != NULL) {
        int value = 0;
        if (ReadIntSetting(interp, "global Scope; set Scope(fsdb,show_bus)", &value)) {
            context->showBus = value;
        }
        if (ReadIntSetting(interp, "global Scope; set Scope(fsdb,cat_split)", &value) &&
            value != 0) {
            context->splitState = 1;
        }
        Tcl_ResetResult(interp);
    }
    if (context->path == NULL || context->tree == NULL || OpenFsdbFile(context) != 0) {
        Quorvel_Close(interp, context);
        return 1;
    }
    *out = context;
    return 0;
}

int OpenFsdbFile(ReaderContext* context)
{
    const char* path = context->path;
    if (path == NULL) {
        return 1;
    }
    if (CheckFile(path) != 0) {
        fprintf(stderr, "Can not open file: %s.\n", path);
        return 1;
    }
    if (!IsFsdbFile(path)) {
        fprintf(stderr, "%s is not an fsdb file.\n", path);
        return 1;
    }
    ffrFileInfo info;
    memset(&info, 0, sizeof(info));
    GetFileInfo(path, &info);
    info.timeUnit[sizeof(info.timeUnit) - 1] = '\0';
    context->fileType = info.fileType;
    if (info.fileType != 0 && info.fileType != 1) {
        fprintf(stderr, "we do not support this file type yet.\n");
        return 1;
    }
    SetWarningHandler(WarnSink);
    SetErrorHandler(ErrorSink);
    SetInfoHandler(InfoSink);
    context->xUnit = _strdup("s");
    ParseTimeUnit(info.timeUnit, context);
    context->xName = (char*)malloc(2);
    if (context->xName != NULL) {
        memcpy(context->xName, "t", 2);
    }
    context->endTag = info.endTag;
    // Without its tree or texts the context cannot serve the host: refuse before any reader use.
    if (context->xUnit == NULL || context->xName == NULL || context->tree == NULL) {
        return 1;
    }

    unsigned serial = 0;
    ffrObject* reader = OpenReader(context, &serial);
    if (reader == NULL) {
        return 1;
    }
    if (RefreshNeeded(context, reader)) {
        reader = ReopenReader(context, reader, &serial);
        if (reader == NULL) {
            return 1;
        }
    }
    if (!RecordStamp(context, reader)) {
        ReleaseUse(serial);
        return 1;
    }
    context->reader = reader;
    context->readerUse = serial;
    reader->ReadSignalTree();
    return 0;
}

int Quorvel_Close(Tcl_Interp* interp, ReaderContext* context)
{
    (void)interp;
    if (context == NULL) {
        return 0;
    }
    free(context->stamp);
    delete context->tree;
    free(context->xName);
    free(context->xUnit);
    // Only a use that still counts is dropped; a reader dropped by a refresh is not touched.
    if (context->readerUse != 0) {
        ReleaseUse(context->readerUse);
    }
    free(context->path);
    free(context);
    return 0;
}

int CheckRewritten(ReaderContext* context, Tcl_Interp* interp)
{
    ffrObject* reader = LiveReader(context);
    if (reader != NULL) {
        if (reader->HasStamp() != 1) {
            return 0;
        }
        char buffer[kStampBufferSize];
        ReadStamp(reader, buffer);
        if (context->stamp != NULL && strcmp(context->stamp, buffer) == 0) {
            return 0;
        }
    }
    // Rewritten, or the reader was dropped by a later refresh of the same path.
    TellRewritten(interp);
    return 1;
}

int CheckChangedOnDisk(ReaderContext* context, Tcl_Interp* interp)
{
    ffrObject* reader = LiveReader(context);
    unsigned char flag = 0;
    if (reader == NULL || reader->NeedsReopen(&flag) == 0) {
        return 0;
    }
    TellRewritten(interp);
    return 1;
}

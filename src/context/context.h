// context.h: the per-file reader context, opening and closing a file, rewrite detection,
// and the record of which reader objects the plug-in's contexts hold uses of.
#ifndef QUORVEL_CONTEXT_H
#define QUORVEL_CONTEXT_H

#include <tcl.h>

#include "nffr.h"
#include "pf_format.h"
#include "reader_tree.h"

struct ReaderContext {
    double timeScale;     // seconds per tick
    Tcl_Interp* interp;   // not owned
    ffrObject* reader;    // the shared reader object; see LiveReader
    ffrVarInfo* varInfo;  // current variable record, owned by the reader library
    ReaderTree* tree;     // owned
    char* xName;          // "t"
    char* xUnit;          // "s"
    char* path;
    char* stamp;   // creation stamp at open, or null
    int fileType;  // 0 or 1
    TimeTag endTag;
    int splitState;  // 0 off, 1 underscore form, 2 dot form
    int showBus;
    int waveCount;       // leaves entered into the tree
    unsigned readerUse;  // which reader object this context holds a use of; 0: none
};

void InitContext(ReaderContext* context);
// Open handler. Results: 0 with *out the new context, 1 with *out null (the reason written to
// standard error, one line). Side effects: reads Scope(fsdb,show_bus) and Scope(fsdb,cat_split)
// and asks the host whether it holds the path open (the interpreter's result changes), takes
// one use of the file's shared reader object and may refresh an object the host already
// holds. The host owns *out until it passes it to Quorvel_Close.
int Quorvel_Open(Tcl_Interp* interp, const char* path, ReaderContext** out);
int OpenFsdbFile(ReaderContext* context);
// Close handler. Result: always 0; a null context is accepted. Side effects: frees the context
// with its tree and texts and drops its use of the reader object when that still counts. The
// context is gone afterwards.
int Quorvel_Close(Tcl_Interp* interp, ReaderContext* context);
// 1 when the file was rewritten since open (or the context's reader was dropped by a later
// refresh); the user has then been told. 0 otherwise.
int CheckRewritten(ReaderContext* context, Tcl_Interp* interp);
// 1 when the reader says the file on disk is no longer the one it read (truncated, rewritten in
// place under the same stamp, replaced); the user has then been told as for a rewritten file.
// Loads ask it before any value is read. 0 otherwise.
int CheckChangedOnDisk(ReaderContext* context, Tcl_Interp* interp);

// The context's reader when its use still counts, null when it was dropped by a later
// context's refresh of the same path (or never opened). Every call into the reader goes here.
ffrObject* LiveReader(const ReaderContext* context);

#endif

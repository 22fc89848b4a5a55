// script.h: evaluating a host command that names a file, with the path as one literal word.
#ifndef QUORVEL_SCRIPT_H
#define QUORVEL_SCRIPT_H

#include <tcl.h>

// Evaluates before + path + after, the path quoted as a single list element so that blanks,
// brackets, dollar signs and backslashes in it reach the command unchanged. Returns the
// Tcl_Eval code; TCL_ERROR (with nothing evaluated) when the script cannot be built.
int EvalWithLiteralPath(Tcl_Interp* interp, const char* before, const char* path,
                        const char* after);

#endif

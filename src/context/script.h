// script.h: evaluating a host command that names a file, with the path as one literal word.
#ifndef QUORVEL_SCRIPT_H
#define QUORVEL_SCRIPT_H

#include <tcl.h>

// Evaluates before + path + after, the path quoted as a single list element so that blanks,
// brackets, dollar signs and backslashes in it reach the command unchanged. Returns the
// Tcl_Eval code; TCL_ERROR (with nothing evaluated) when the script cannot be built.
int EvalWithLiteralPath(Tcl_Interp* interp, const char* before, const char* path,
                        const char* after);

// The same for a Tcl file command (file exists, file tail, ...), with the path taken literally:
// Tcl 8.6 reads a leading "~" as a home directory, so a relative path starting with "~" is given
// as "./" + path, and the "./" that "file tail" puts before a "~" name is removed from the
// result. Host commands that merely compare paths get them through EvalWithLiteralPath.
int EvalFileCommand(Tcl_Interp* interp, const char* before, const char* path, const char* after);

#endif

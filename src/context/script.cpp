// script.cpp: host commands evaluated with a file path as one literal word.
#include "context/script.h"

#include <string.h>

int EvalWithLiteralPath(Tcl_Interp* interp, const char* before, const char* path, const char* after)
{
    if (interp == NULL || before == NULL || path == NULL || after == NULL) {
        return TCL_ERROR;
    }
    Tcl_DString script;
    Tcl_DStringInit(&script);
    Tcl_DStringAppend(&script, before, -1);
    // A list element is a valid command word that evaluates to exactly the element's text.
    Tcl_DStringAppendElement(&script, path);
    Tcl_DStringAppend(&script, after, -1);
    int code = Tcl_Eval(interp, Tcl_DStringValue(&script));
    Tcl_DStringFree(&script);
    return code;
}

int EvalFileCommand(Tcl_Interp* interp, const char* before, const char* path, const char* after)
{
    if (path == NULL) {
        return TCL_ERROR;
    }
    Tcl_DString literal;
    Tcl_DStringInit(&literal);
    if (path[0] == '~') {
        Tcl_DStringAppend(&literal, "./", -1);
    }
    Tcl_DStringAppend(&literal, path, -1);
    int code = EvalWithLiteralPath(interp, before, Tcl_DStringValue(&literal), after);
    Tcl_DStringFree(&literal);
    if (code == TCL_OK && strncmp(Tcl_GetStringResult(interp), "./~", 3) == 0) {
        // Copied first: the result cannot be set from its own text.
        Tcl_DString copy;
        Tcl_DStringInit(&copy);
        Tcl_DStringAppend(&copy, Tcl_GetStringResult(interp) + 2, -1);
        Tcl_SetResult(interp, Tcl_DStringValue(&copy), TCL_VOLATILE);
        Tcl_DStringFree(&copy);
    }
    return code;
}

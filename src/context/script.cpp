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
    const char* result = Tcl_GetStringResult(interp);
    if (code == TCL_OK && strncmp(result, "./~", 3) == 0) {
        // A new object copies the text before the old result is released.
        Tcl_SetObjResult(interp, Tcl_NewStringObj(result + 2, -1));
    }
    return code;
}

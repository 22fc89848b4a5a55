// script.cpp: host commands evaluated with a file path as one literal word.
#include "context/script.h"

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

// vexa_main.cpp: the vexa shell: tclsh with the vexa package, Scope(Application) set, and the
// format plug-in loaded from $QUORVEL_PLUGIN or the build's own libquorvel.so.
#include <tcl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tcl/vexa_package.h"

namespace {

std::string PluginPath()
{
    const char* fromEnvironment = std::getenv("QUORVEL_PLUGIN");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') {
        return fromEnvironment;
    }
    return QUORVEL_DEFAULT_PLUGIN;
}

// A missing or broken plug-in leaves a working shell without the format, with a warning.
void LoadPlugin(Tcl_Interp* interp)
{
    std::string path = PluginPath();
    Tcl_Obj* command[2] = {Tcl_NewStringObj("vexa::load", -1), Tcl_NewStringObj(path.c_str(), -1)};
    Tcl_IncrRefCount(command[0]);
    Tcl_IncrRefCount(command[1]);
    if (Tcl_EvalObjv(interp, 2, command, TCL_EVAL_GLOBAL) != TCL_OK) {
        std::fprintf(stderr, "vexa: warning: plug-in \"%s\" not loaded: %s\n", path.c_str(),
                     Tcl_GetStringResult(interp));
    }
    Tcl_DecrRefCount(command[0]);
    Tcl_DecrRefCount(command[1]);
    Tcl_ResetResult(interp);
}

int AppInit(Tcl_Interp* interp)
{
    if (Tcl_Init(interp) != TCL_OK || Vexa_Init(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_StaticPackage(interp, "Vexa", Vexa_Init, nullptr);
    Tcl_SetVar2(interp, "Scope", "Application", "1", TCL_GLOBAL_ONLY);
    LoadPlugin(interp);
    return TCL_OK;
}

}  // namespace

int main(int argc, char** argv)
{
    Tcl_Main(argc, argv, AppInit);
    return 0;
}

// vexa_main.cpp: the vexa program: the command line (vexa FILE, vexa dump ...), the interactive
// shell, or tclsh running a script; each with the vexa package, Scope(Application) set, and the
// format plug-in loaded from $QUORVEL_PLUGIN or the build's own libquorvel.so.
#include <tcl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The command line's first words: its commands and options, and waveform file names.
bool IsCommandLine(int argc, char** argv)
{
    static const char* const words[] = {"info", "tree", "list",   "dump",  "plot",   "view",
                                        "help", "-h",   "--help", "--bus", "--split"};
    if (argc < 2) {
        return false;
    }
    for (const char* word : words) {
        if (std::strcmp(argv[1], word) == 0) {
            return true;
        }
    }
    std::string name = argv[1];
    std::size_t slash = name.find_last_of('/');
    std::string tail = slash == std::string::npos ? name : name.substr(slash + 1);
    for (char& c : tail) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    auto endsWith = [&tail](const char* end) {
        std::size_t n = std::strlen(end);
        return tail.size() >= n && tail.compare(tail.size() - n, n, end) == 0;
    };
    // A word that names no file is a command (or a file) for the command line to explain.
    return endsWith(".vcd") || endsWith(".vcd.gz") || endsWith(".fst") ||
           tail.find(".fsdb") != std::string::npos ||
           (!endsWith(".tcl") && access(argv[1], F_OK) != 0);
}

// Sources one of the host's scripts and evaluates COMMAND; the command's integer result, or 1
// with the error on standard error.
int RunScript(Tcl_Interp* interp, const char* script, const char* command)
{
    std::string path = std::string(VEXA_SCRIPT_DIR) + "/" + script;
    Tcl_Obj* source[2] = {Tcl_NewStringObj("source", -1), Tcl_NewStringObj(path.c_str(), -1)};
    for (Tcl_Obj* word : source) {
        Tcl_IncrRefCount(word);
    }
    int rc = Tcl_EvalObjv(interp, 2, source, TCL_EVAL_GLOBAL);
    for (Tcl_Obj* word : source) {
        Tcl_DecrRefCount(word);
    }
    if (rc == TCL_OK) {
        rc = Tcl_EvalEx(interp, command, -1, TCL_EVAL_GLOBAL);
    }
    int status = 1;
    if (rc != TCL_OK) {
        std::fprintf(stderr, "vexa: %s\n", Tcl_GetStringResult(interp));
    } else if (Tcl_GetIntFromObj(nullptr, Tcl_GetObjResult(interp), &status) != TCL_OK) {
        status = 0;
    }
    return status;
}

// Runs the command line or the interactive shell in an interpreter of our own.
[[noreturn]] void RunOwnInterp(int argc, char** argv, const char* script, const char* command)
{
    Tcl_Interp* interp = Tcl_CreateInterp();
    Tcl_Obj* args = Tcl_NewListObj(0, nullptr);
    for (int i = 1; i < argc; ++i) {
        Tcl_ListObjAppendElement(nullptr, args, Tcl_NewStringObj(argv[i], -1));
    }
    Tcl_SetVar2Ex(interp, "argv", nullptr, args, TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(interp, "argv0", nullptr, Tcl_NewStringObj(argv[0], -1), TCL_GLOBAL_ONLY);
    int status = 1;
    if (AppInit(interp) != TCL_OK) {
        std::fprintf(stderr, "vexa: %s\n", Tcl_GetStringResult(interp));
    } else {
        status = RunScript(interp, script, command);
    }
    // Exit handlers close the files still open.
    Tcl_Exit(status);
}

}  // namespace

int main(int argc, char** argv)
{
    Tcl_FindExecutable(argv[0]);
    if (IsCommandLine(argc, argv)) {
        RunOwnInterp(argc, argv, "cli/cli.tcl", "vexa::cli::main $argv");
    }
    if (argc == 1 && isatty(0) && isatty(1)) {
        RunOwnInterp(argc, argv, "shell/shell.tcl", "vexa::shell::run; expr {0}");
    }
    Tcl_Main(argc, argv, AppInit);
    return 0;
}

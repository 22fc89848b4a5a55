// vexa_main.cpp: the vexa program: the command line (vexa FILE, vexa dump ...), the interactive
// shell, or tclsh running a script; each with the vexa package, Scope(Application) set, and the
// format plug-in loaded from $QUORVEL_PLUGIN or the libquorvel.so beside the package. The
// package's folder is found from the program's own place (bin/../lib, in the build tree and in
// an install alike) and put first on auto_path, so its scripts load with package require.
#include <tcl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tcl/vexa_package.h"

namespace {

// The folder of the package's libraries and index: VEXA_LIBRARY_DIR, relative to the program's.
std::string LibraryDir()
{
    std::string program = Tcl_GetNameOfExecutable() != nullptr ? Tcl_GetNameOfExecutable() : "";
    std::size_t slash = program.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "." : program.substr(0, slash);
    return std::string(VEXA_LIBRARY_DIR).empty() ? dir : dir + "/" + VEXA_LIBRARY_DIR;
}

std::string PluginPath()
{
    const char* fromEnvironment = std::getenv("QUORVEL_PLUGIN");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') {
        return fromEnvironment;
    }
    return LibraryDir() + "/" + QUORVEL_PLUGIN_NAME;
}

// Puts the package's folder first on auto_path: the scripts beside this program win over
// another install's.
int FindPackage(Tcl_Interp* interp)
{
    Tcl_Obj* path = Tcl_GetVar2Ex(interp, "auto_path", nullptr, TCL_GLOBAL_ONLY);
    path = path == nullptr ? Tcl_NewListObj(0, nullptr) : Tcl_DuplicateObj(path);
    Tcl_IncrRefCount(path);
    Tcl_Obj* given = Tcl_NewStringObj(LibraryDir().c_str(), -1);
    Tcl_IncrRefCount(given);
    // Without "bin/.." in it: the paths of the scripts loaded read as the install's.
    Tcl_Obj* normal = Tcl_FSGetNormalizedPath(interp, given);
    Tcl_Obj* dir = Tcl_DuplicateObj(normal != nullptr ? normal : given);
    Tcl_DecrRefCount(given);
    int rc = Tcl_ListObjReplace(interp, path, 0, 0, 1, &dir);
    if (rc == TCL_OK && Tcl_SetVar2Ex(interp, "auto_path", nullptr, path,
                                      TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG) == nullptr) {
        rc = TCL_ERROR;
    }
    Tcl_DecrRefCount(path);
    return rc;
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
    if (Tcl_Init(interp) != TCL_OK || FindPackage(interp) != TCL_OK ||
        Vexa_Init(interp) != TCL_OK) {
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
    static const char* const words[] = {"info", "tree",   "list",  "dump",   "plot",
                                        "view", "diff",   "find",  "stats",  "help",
                                        "-h",   "--help", "--bus", "--split"};
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

// Loads one of the package's scripts (vexa::cli, vexa::shell) and evaluates COMMAND; the
// command's integer result, or 1 with the error on standard error.
int RunScript(Tcl_Interp* interp, const char* script, const char* command)
{
    Tcl_Obj* require[3] = {Tcl_NewStringObj("package", -1), Tcl_NewStringObj("require", -1),
                           Tcl_NewStringObj(script, -1)};
    for (Tcl_Obj* word : require) {
        Tcl_IncrRefCount(word);
    }
    int rc = Tcl_EvalObjv(interp, 3, require, TCL_EVAL_GLOBAL);
    for (Tcl_Obj* word : require) {
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
        RunOwnInterp(argc, argv, "vexa::cli", "vexa::cli::main $argv");
    }
    if (argc == 1 && isatty(0) && isatty(1)) {
        RunOwnInterp(argc, argv, "vexa::shell", "vexa::shell::run; expr {0}");
    }
    Tcl_Main(argc, argv, AppInit);
    return 0;
}

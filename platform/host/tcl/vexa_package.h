// vexa_package.h: the Tcl package vexa: per-interpreter state (open file handles, waveform ids,
// the last message) shared by its command files.
#ifndef VEXA_PACKAGE_H
#define VEXA_PACKAGE_H

#include <tcl.h>

#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_core.h"

extern "C" int Vexa_Init(Tcl_Interp* interp);

namespace vexa {

// A file opened through a format's open handler; closed with its close handler.
struct OpenFile {
    std::string handle;  // "fsdb1", ...
    std::string path;
    const FormatHandlers* format = nullptr;
    ReaderContext* context = nullptr;
};

struct Message {
    std::string text;
    std::string type;
    std::string title;
};

// Owned by the interpreter (assoc data); remaining files are closed when it is deleted or the
// process exits.
struct PackageState {
    Tcl_Interp* interp = nullptr;
    std::vector<std::unique_ptr<OpenFile>> files;  // in opening order
    std::map<std::string, int> handleCounters;     // per handle prefix
    std::map<std::string, WfXWave*> waves;         // wave id -> waveform
    std::map<const WfXWave*, std::string> waveIds;
    int waveCounter = 0;
    bool hasMessage = false;
    Message lastMessage;
};

PackageState& StateOf(Tcl_Interp* interp);
OpenFile* FindFile(PackageState& state, const std::string& handle);
// The id of a live waveform, made on first sight; "0" for null or a dead pointer.
std::string WaveIdFor(PackageState& state, WfXWave* wave);
// A Tcl error "PREFIX" followed by ": RESULT" when the interpreter holds a result.
int RefusalError(Tcl_Interp* interp, const std::string& prefix);
// A Tcl error with exactly this message.
int PlainError(Tcl_Interp* interp, const std::string& message);

// Reports an exception that reached a command procedure as the command's error.
int ExceptionError(Tcl_Interp* interp, Tcl_Obj* command, const std::exception* caught) noexcept;

// The command procedure Proc with no C++ exception leaving it: one that escapes Proc fails the
// command with a message instead of ending the host process at the Tcl boundary.
template <Tcl_ObjCmdProc* Proc>
int Guarded(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) noexcept
{
    try {
        return Proc(data, interp, objc, objv);
    } catch (const std::exception& caught) {
        return ExceptionError(interp, objv[0], &caught);
    } catch (...) {
        return ExceptionError(interp, objv[0], nullptr);
    }
}

// Command registration, one per command file.
void RegisterFileCommands(Tcl_Interp* interp);
void RegisterWaveCommands(Tcl_Interp* interp);
void RegisterDrawCommands(Tcl_Interp* interp);
void RegisterFileStateCommand(Tcl_Interp* interp);
void RegisterAnalysisCommands(Tcl_Interp* interp);

}  // namespace vexa

#endif

// package.cpp: Vexa_Init and the package's general commands: vexa::load, vexa::formats,
// pf:info, VexaMessage and vexa::lastmessage; the per-interpreter state and its clean-up; the
// Tcl procedures of design.tcl (vexa::design).
#include <cstdio>
#include <new>

#include "design_script.h"
#include "vexa_package.h"

namespace vexa {
namespace {

const char* const kStateKey = "vexa::state";

void CloseAll(PackageState& state)
{
    // Close in reverse opening order; each handler is called once.
    while (!state.files.empty()) {
        std::unique_ptr<OpenFile> file = std::move(state.files.back());
        state.files.pop_back();
        file->format->close(state.interp, file->context);
    }
}

void ExitHandler(ClientData data)
{
    CloseAll(*static_cast<PackageState*>(data));
}

void DeleteState(ClientData data, Tcl_Interp* /*interp*/)
{
    auto* state = static_cast<PackageState*>(data);
    Tcl_DeleteExitHandler(ExitHandler, state);
    CloseAll(*state);
    delete state;
}

// vexa::load PLUGINPATH ?PREFIX?
int LoadCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2 && objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "PLUGINPATH ?PREFIX?");
        return TCL_ERROR;
    }
    Tcl_Obj* command[3] = {Tcl_NewStringObj("load", -1), objv[1], objc == 3 ? objv[2] : nullptr};
    Tcl_IncrRefCount(command[0]);
    int rc = Tcl_EvalObjv(interp, objc, command, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(command[0]);
    return rc;
}

// vexa::formats -> {{name pattern} ...}
int FormatsCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const FormatHandlers* format : vexahost::RegisteredFormats()) {
        Tcl_Obj* pair[2] = {Tcl_NewStringObj(format->formatName, -1),
                            Tcl_NewStringObj(format->filePattern, -1)};
        Tcl_ListObjAppendElement(interp, list, Tcl_NewListObj(2, pair));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// pf:info open PATH -> the handles whose path is exactly PATH
int PfInfoCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const subcommands[] = {"open", nullptr};
    int index = 0;
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "open PATH");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], subcommands, "subcommand", 0, &index) != TCL_OK) {
        return TCL_ERROR;
    }
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 2, objv, "PATH");
        return TCL_ERROR;
    }
    auto* state = static_cast<PackageState*>(data);
    std::string path = Tcl_GetString(objv[2]);
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const auto& file : state->files) {
        if (file->path == path) {
            Tcl_ListObjAppendElement(interp, list, Tcl_NewStringObj(file->handle.c_str(), -1));
        }
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// VexaMessage TEXT TYPE TITLE: "TITLE: TEXT" on standard error; kept for vexa::lastmessage.
int VexaMessageCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "TEXT TYPE TITLE");
        return TCL_ERROR;
    }
    auto* state = static_cast<PackageState*>(data);
    state->lastMessage =
        Message{Tcl_GetString(objv[1]), Tcl_GetString(objv[2]), Tcl_GetString(objv[3])};
    state->hasMessage = true;
    std::fprintf(stderr, "%s: %s\n", state->lastMessage.title.c_str(),
                 state->lastMessage.text.c_str());
    std::fflush(stderr);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// vexa::lastmessage -> {TEXT TYPE TITLE}, or empty before any message
int LastMessageCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    auto* state = static_cast<PackageState*>(data);
    Tcl_ResetResult(interp);
    if (state->hasMessage) {
        const Message& m = state->lastMessage;
        Tcl_Obj* parts[3] = {Tcl_NewStringObj(m.text.c_str(), -1),
                             Tcl_NewStringObj(m.type.c_str(), -1),
                             Tcl_NewStringObj(m.title.c_str(), -1)};
        Tcl_SetObjResult(interp, Tcl_NewListObj(3, parts));
    }
    return TCL_OK;
}

}  // namespace

PackageState& StateOf(Tcl_Interp* interp)
{
    return *static_cast<PackageState*>(Tcl_GetAssocData(interp, kStateKey, nullptr));
}

OpenFile* FindFile(PackageState& state, const std::string& handle)
{
    for (const auto& file : state.files) {
        if (file->handle == handle) {
            return file.get();
        }
    }
    return nullptr;
}

std::string WaveIdFor(PackageState& state, WfXWave* wave)
{
    if (wave == nullptr || !vexahost::IsLiveWave(wave)) {
        return "0";
    }
    auto known = state.waveIds.find(wave);
    if (known != state.waveIds.end()) {
        return known->second;
    }
    std::string id = "w" + std::to_string(++state.waveCounter);
    state.waves[id] = wave;
    state.waveIds[wave] = id;
    return id;
}

int RefusalError(Tcl_Interp* interp, const std::string& prefix)
{
    std::string message = prefix;
    const char* result = Tcl_GetStringResult(interp);
    if (result[0] != '\0') {
        message += ": ";
        message += result;
    }
    return PlainError(interp, message);
}

int ExceptionError(Tcl_Interp* interp, Tcl_Obj* command, const std::exception* caught) noexcept
{
    // Built with Tcl's own functions only: std::string could throw again here.
    Tcl_ResetResult(interp);
    const char* what = "unknown exception";
    if (dynamic_cast<const std::bad_alloc*>(caught) != nullptr) {
        what = "out of memory";
    } else if (caught != nullptr) {
        what = caught->what();
    }
    Tcl_AppendResult(interp, Tcl_GetString(command), " failed: ", what, nullptr);
    return TCL_ERROR;
}

int PlainError(Tcl_Interp* interp, const std::string& message)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
}

}  // namespace vexa

extern "C" int Vexa_Init(Tcl_Interp* interp)
{
    using namespace vexa;
    if (Tcl_GetAssocData(interp, kStateKey, nullptr) != nullptr) {
        return Tcl_PkgProvide(interp, "vexa", VEXA_VERSION);
    }
    auto* state = new (std::nothrow) PackageState();
    if (state == nullptr) {
        Tcl_SetResult(interp, const_cast<char*>("vexa: out of memory"), TCL_STATIC);
        return TCL_ERROR;
    }
    state->interp = interp;
    Tcl_SetAssocData(interp, kStateKey, DeleteState, state);
    Tcl_CreateExitHandler(ExitHandler, state);

    Tcl_CreateObjCommand(interp, "::vexa::load", Guarded<LoadCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::formats", Guarded<FormatsCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::pf:info", Guarded<PfInfoCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::VexaMessage", Guarded<VexaMessageCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::lastmessage", Guarded<LastMessageCmd>, state, nullptr);
    RegisterFileCommands(interp);
    RegisterWaveCommands(interp);
    RegisterDrawCommands(interp);
    RegisterFileStateCommand(interp);
    RegisterAnalysisCommands(interp);
    // vexa::design, written in Tcl over the commands above.
    if (Tcl_EvalEx(interp, kDesignScript, -1, TCL_EVAL_GLOBAL) != TCL_OK) {
        return TCL_ERROR;
    }
    return Tcl_PkgProvide(interp, "vexa", VEXA_VERSION);
}

// waves.cpp: vexa::wave, which reads a loaded waveform back: its kind, names, units, width,
// sample count, state and samples; vexa::free, which frees waveforms, and vexa::store, which
// counts what the host holds.
#include "vexa_package.h"
#include "wave_view.h"

namespace vexa {
namespace {

Tcl_Obj* NewText(const std::string& text)
{
    return Tcl_NewStringObj(text.c_str(), static_cast<int>(text.size()));
}

// {x1 y1 x2 y2 ...}: reals as doubles, texts as stored.
Tcl_Obj* Samples(const WfXWave* wave, const vexahost::WaveHeader& header)
{
    bool text = vexahost::IsTextKind(header.kind);
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (std::size_t i = 0; i < header.count; ++i) {
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(vexahost::WaveX(wave, i)));
        Tcl_ListObjAppendElement(nullptr, list,
                                 text ? Tcl_NewStringObj(vexahost::WaveText(wave, i), -1)
                                      : Tcl_NewDoubleObj(vexahost::WaveY(wave, i)));
    }
    return list;
}

// vexa::wave WAVEID kind|name|xname|xunit|yunit|width|count|done|samples|datatype
int WaveCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const options[] = {"kind",  "name", "xname",   "xunit",    "yunit", "width",
                                          "count", "done", "samples", "datatype", nullptr};
    enum { kKind, kName, kXName, kXUnit, kYUnit, kWidth, kCount, kDone, kSamples, kDataType };
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "WAVEID OPTION");
        return TCL_ERROR;
    }
    auto* state = static_cast<PackageState*>(data);
    auto found = state->waves.find(Tcl_GetString(objv[1]));
    vexahost::WaveHeader header;
    if (found == state->waves.end() || !vexahost::ReadWaveHeader(found->second, &header)) {
        return UnknownWave(interp, objv[1]);
    }
    int option = 0;
    if (Tcl_GetIndexFromObj(interp, objv[2], options, "option", 0, &option) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_Obj* result = nullptr;
    switch (option) {
    case kKind: result = Tcl_NewIntObj(header.kind); break;
    case kName: result = NewText(header.name); break;
    case kXName: result = NewText(header.xName); break;
    case kXUnit: result = NewText(header.xUnit); break;
    case kYUnit: result = NewText(header.yUnit); break;
    case kWidth: result = Tcl_NewIntObj(header.width); break;
    case kCount: result = Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(header.count)); break;
    case kDone: result = Tcl_NewIntObj(header.done ? 1 : 0); break;
    case kSamples: result = Samples(found->second, header); break;
    default: result = NewText(header.dataType); break;
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

// vexa::free ?WAVEID ...?: every id is checked before any waveform is freed.
int FreeCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto* state = static_cast<PackageState*>(data);
    for (int i = 1; i < objc; ++i) {
        if (state->waves.count(Tcl_GetString(objv[i])) == 0) {
            return UnknownWave(interp, objv[i]);
        }
    }
    for (int i = 1; i < objc; ++i) {
        auto found = state->waves.find(Tcl_GetString(objv[i]));
        if (found != state->waves.end()) {
            state->waveIds.erase(found->second);
            ForgetWaveView(found->second);
            vexahost::DestroyWave(found->second);
            state->waves.erase(found);
        }
    }
    return TCL_OK;
}

// vexa::store -> {waves N samples N}
int StoreCmd(ClientData /*data*/, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, "");
        return TCL_ERROR;
    }
    vexahost::StoreCounts counts = vexahost::CountStore();
    Tcl_Obj* words[4] = {
        NewText("waves"), Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(counts.waves)),
        NewText("samples"), Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(counts.samples))};
    Tcl_SetObjResult(interp, Tcl_NewListObj(4, words));
    return TCL_OK;
}

}  // namespace

void RegisterWaveCommands(Tcl_Interp* interp)
{
    Tcl_CreateObjCommand(interp, "::vexa::wave", Guarded<WaveCmd>, &StateOf(interp), nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::free", Guarded<FreeCmd>, &StateOf(interp), nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::store", Guarded<StoreCmd>, nullptr, nullptr);
}

}  // namespace vexa

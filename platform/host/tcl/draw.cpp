// draw.cpp: the drawing model's Tcl commands, over loaded waveforms: vexa::table (samples as
// rows of engineering times and radix values), vexa::format, vexa::timegrid, vexa::columns
// (decimation per pixel column), vexa::ticks (time-axis labels) and vexa::change (next or
// previous change of value).
#include <map>
#include <utility>

#include "draw/drawmodel.h"
#include "vexa_package.h"
#include "wave_view.h"

namespace vexa {
namespace {

using draw::SampleView;
using draw::Time;

// Grids are found by reading every sample once; keep them per waveform and sample count.
std::map<const WfXWave*, std::pair<std::size_t, int>>& GridCache()
{
    static std::map<const WfXWave*, std::pair<std::size_t, int>> cache;
    return cache;
}

struct Wave {
    SampleView view;
    vexahost::WaveHeader header;
};

int FindWave(Tcl_Interp* interp, Tcl_Obj* id, Wave* out)
{
    PackageState& state = StateOf(interp);
    auto found = state.waves.find(Tcl_GetString(id));
    if (found == state.waves.end() || !vexahost::ReadWaveHeader(found->second, &out->header)) {
        return UnknownWave(interp, id);
    }
    out->view = ViewOfWave(found->second, out->header);
    return TCL_OK;
}

int GetTime(Tcl_Interp* interp, Tcl_Obj* text, Time* t)
{
    std::string error;
    if (!draw::ParseTime(Tcl_GetString(text), t, &error)) {
        return PlainError(interp, error);
    }
    return TCL_OK;
}

int GetRadix(Tcl_Interp* interp, Tcl_Obj* word, draw::Radix* radix)
{
    if (!draw::ParseRadix(Tcl_GetString(word), radix)) {
        return PlainError(interp, std::string("bad radix \"") + Tcl_GetString(word) +
                                      "\": must be bin, hex, dec or signed");
    }
    return TCL_OK;
}

Tcl_Obj* NewText(const std::string& text)
{
    return Tcl_NewStringObj(text.c_str(), static_cast<int>(text.size()));
}

Tcl_Obj* NewRow(const std::string& time, const std::vector<std::string>& values)
{
    Tcl_Obj* row = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, row, NewText(time));
    for (const std::string& value : values) {
        Tcl_ListObjAppendElement(nullptr, row, NewText(value));
    }
    return row;
}

// The options of vexa::table.
struct TableOptions {
    draw::Window window;
    bool hasAt = false;
    Time at;
    draw::Radix radix = draw::Radix::kBin;
    Tcl_Channel channel = nullptr;
};

int ParseTableOptions(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], TableOptions* o)
{
    static const char* const names[] = {"-from", "-to", "-at", "-radix", "-channel", nullptr};
    enum { kFrom, kTo, kAt, kRadix, kChannel };
    for (int i = 0; i < objc; i += 2) {
        int option = 0;
        if (Tcl_GetIndexFromObj(interp, objv[i], names, "option", 0, &option) != TCL_OK) {
            return TCL_ERROR;
        }
        if (i + 1 >= objc) {
            return PlainError(interp, std::string("missing value for ") + Tcl_GetString(objv[i]));
        }
        Tcl_Obj* value = objv[i + 1];
        int rc = TCL_OK;
        switch (option) {
        case kFrom:
            o->window.hasFrom = true;
            rc = GetTime(interp, value, &o->window.from);
            break;
        case kTo:
            o->window.hasTo = true;
            rc = GetTime(interp, value, &o->window.to);
            break;
        case kAt:
            o->hasAt = true;
            rc = GetTime(interp, value, &o->at);
            break;
        case kRadix: rc = GetRadix(interp, value, &o->radix); break;
        default:
            o->channel = Tcl_GetChannel(interp, Tcl_GetString(value), nullptr);
            rc = o->channel == nullptr ? TCL_ERROR : TCL_OK;
            break;
        }
        if (rc != TCL_OK) {
            return rc;
        }
    }
    return TCL_OK;
}

// One row as a line of tab-separated fields; false when the channel refuses it.
bool WriteRow(Tcl_Channel channel, const std::string& time, const std::vector<std::string>& values)
{
    std::string line = time;
    for (const std::string& value : values) {
        line += '\t';
        line += value;
    }
    line += '\n';
    return Tcl_WriteChars(channel, line.c_str(), static_cast<int>(line.size())) >= 0;
}

// vexa::table WAVEIDS ?-from T? ?-to T? ?-at T? ?-radix R? ?-channel CHAN?
// -> {{time value ...} ...}, or the rows written to CHAN as tab-separated lines.
int TableCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 2 || objc % 2 != 0) {
        Tcl_WrongNumArgs(
            interp, 1, objv,
            "WAVEIDS ?-from TIME? ?-to TIME? ?-at TIME? ?-radix RADIX? ?-channel CHAN?");
        return TCL_ERROR;
    }
    int count = 0;
    Tcl_Obj** ids = nullptr;
    TableOptions options;
    if (Tcl_ListObjGetElements(interp, objv[1], &count, &ids) != TCL_OK ||
        ParseTableOptions(interp, objc - 2, objv + 2, &options) != TCL_OK) {
        return TCL_ERROR;
    }
    std::vector<SampleView> views;
    for (int i = 0; i < count; ++i) {
        Wave wave;
        if (FindWave(interp, ids[i], &wave) != TCL_OK) {
            return TCL_ERROR;
        }
        views.push_back(wave.view);
    }
    Tcl_Obj* rows = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(rows);
    auto sink = [&](const std::string& time, const std::vector<std::string>& values) {
        if (options.channel != nullptr) {
            return WriteRow(options.channel, time, values);
        }
        Tcl_ListObjAppendElement(nullptr, rows, NewRow(time, values));
        return true;
    };
    bool written = options.hasAt ? sink(draw::FormatTime(options.at),
                                        draw::ValuesAt(views, options.at, options.radix))
                                 : draw::TableRows(views, options.window, options.radix, sink);
    if (!written) {
        Tcl_DecrRefCount(rows);
        return PlainError(interp, std::string("error writing \"") +
                                      Tcl_GetChannelName(options.channel) +
                                      "\": " + Tcl_PosixError(interp));
    }
    if (options.channel == nullptr) {
        Tcl_SetObjResult(interp, rows);
    }
    Tcl_DecrRefCount(rows);
    return TCL_OK;
}

// vexa::format time SECONDS ?GRID? | value TEXT RADIX | parse TIME
int FormatCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const kinds[] = {"time", "value", "parse", nullptr};
    enum { kTime, kValue, kParse };
    static const char* const usage[] = {"SECONDS ?GRID?", "TEXT RADIX", "TIME"};
    int kind = 0;
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "time|value|parse ARG ...");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], kinds, "subcommand", 0, &kind) != TCL_OK) {
        return TCL_ERROR;
    }
    int least = kind == kParse ? 3 : (kind == kTime ? 3 : 4);
    int most = kind == kParse ? 3 : 4;
    if (objc < least || objc > most) {
        Tcl_WrongNumArgs(interp, 2, objv, usage[kind]);
        return TCL_ERROR;
    }
    if (kind == kValue) {
        draw::Radix radix;
        if (GetRadix(interp, objv[3], &radix) != TCL_OK) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, NewText(draw::FormatLogic(Tcl_GetString(objv[2]), radix)));
        return TCL_OK;
    }
    Time t;
    if (kind == kParse) {
        if (GetTime(interp, objv[2], &t) != TCL_OK) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, Tcl_NewDoubleObj(draw::Seconds(t)));
        return TCL_OK;
    }
    double seconds = 0;
    Time grid{1, -18};
    if (Tcl_GetDoubleFromObj(interp, objv[2], &seconds) != TCL_OK ||
        (objc == 4 && GetTime(interp, objv[3], &grid) != TCL_OK)) {
        return TCL_ERROR;
    }
    if (grid.mant != 1 || grid.exp < -18 || grid.exp > 12) {
        return PlainError(interp, std::string("bad grid \"") + Tcl_GetString(objv[3]) +
                                      "\": must be a power of ten such as 1ns or 10ps");
    }
    Tcl_SetObjResult(interp, NewText(draw::FormatTime(draw::TimeOnGrid(seconds, grid.exp))));
    return TCL_OK;
}

// vexa::timegrid WAVEID ... -> the grid time text ("1ns") that holds every sample of them, and
// the time span {first last}: {GRID FIRST LAST}
int TimeGridCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "WAVEID ?WAVEID ...?");
        return TCL_ERROR;
    }
    int grid = 12;
    bool any = false;
    Time first, last;
    for (int i = 1; i < objc; ++i) {
        Wave wave;
        if (FindWave(interp, objv[i], &wave) != TCL_OK) {
            return TCL_ERROR;
        }
        if (wave.view.count == 0) {
            continue;
        }
        grid = std::min(grid, wave.view.grid);
        Time a = draw::TimeOnGrid(wave.view.x(0), wave.view.grid);
        Time b = draw::TimeOnGrid(wave.view.x(wave.view.count - 1), wave.view.grid);
        first = !any || draw::Compare(a, first) < 0 ? a : first;
        last = !any || draw::Compare(b, last) > 0 ? b : last;
        any = true;
    }
    Tcl_Obj* parts[3] = {NewText(any ? draw::GridText(grid) : ""),
                         NewText(any ? draw::FormatTime(first) : ""),
                         NewText(any ? draw::FormatTime(last) : "")};
    Tcl_SetObjResult(interp, Tcl_NewListObj(3, parts));
    return TCL_OK;
}

Tcl_Obj* RunsObj(const std::vector<draw::Run>& runs)
{
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const draw::Run& run : runs) {
        Tcl_Obj* parts[4] = {Tcl_NewDoubleObj(run.x0), Tcl_NewDoubleObj(run.x1), NewText(run.value),
                             Tcl_NewIntObj(run.busy ? 1 : 0)};
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewListObj(4, parts));
    }
    return list;
}

Tcl_Obj* DoublesObj(const std::vector<double>& values)
{
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (double v : values) {
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(v));
    }
    return list;
}

// vexa::columns WAVEID FROM TO WIDTH ?RADIX?
// -> logic {{x0 x1 value busy} ...} | real {ymin ymax} {x y ...} | event {column ...}
int ColumnsCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 5 && objc != 6) {
        Tcl_WrongNumArgs(interp, 1, objv, "WAVEID FROM TO WIDTH ?RADIX?");
        return TCL_ERROR;
    }
    Wave wave;
    Time from, to;
    int width = 0;
    draw::Radix radix = draw::Radix::kBin;
    if (FindWave(interp, objv[1], &wave) != TCL_OK || GetTime(interp, objv[2], &from) != TCL_OK ||
        GetTime(interp, objv[3], &to) != TCL_OK ||
        Tcl_GetIntFromObj(interp, objv[4], &width) != TCL_OK ||
        (objc == 6 && GetRadix(interp, objv[5], &radix) != TCL_OK)) {
        return TCL_ERROR;
    }
    if (width < 1 || width > 100000) {
        return PlainError(interp,
                          "bad width \"" + std::to_string(width) + "\": must be 1 to 100000");
    }
    double a = draw::GridSeconds(from, wave.view.grid), b = draw::GridSeconds(to, wave.view.grid);
    Tcl_Obj* result = Tcl_NewListObj(0, nullptr);
    if (wave.view.text) {
        Tcl_ListObjAppendElement(nullptr, result, NewText("logic"));
        Tcl_ListObjAppendElement(nullptr, result,
                                 RunsObj(draw::LogicRuns(wave.view, a, b, width, radix)));
    } else if (wave.header.kind == WFX_KIND_EVENT) {
        std::vector<double> columns;
        for (int c : draw::EventColumns(wave.view, a, b, width)) {
            columns.push_back(c);
        }
        Tcl_ListObjAppendElement(nullptr, result, NewText("event"));
        Tcl_ListObjAppendElement(nullptr, result, DoublesObj(columns));
    } else {
        draw::Trace trace = draw::RealTrace(wave.view, a, b, width);
        Tcl_ListObjAppendElement(nullptr, result, NewText("real"));
        Tcl_ListObjAppendElement(nullptr, result, DoublesObj({trace.yMin, trace.yMax}));
        Tcl_ListObjAppendElement(nullptr, result, DoublesObj(trace.xy));
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

// vexa::ticks FROM TO WIDTH ?SPACING? -> {x label x label ...}
int TicksCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 4 && objc != 5) {
        Tcl_WrongNumArgs(interp, 1, objv, "FROM TO WIDTH ?SPACING?");
        return TCL_ERROR;
    }
    Time from, to;
    int width = 0, spacing = 100;
    if (GetTime(interp, objv[1], &from) != TCL_OK || GetTime(interp, objv[2], &to) != TCL_OK ||
        Tcl_GetIntFromObj(interp, objv[3], &width) != TCL_OK ||
        (objc == 5 && Tcl_GetIntFromObj(interp, objv[4], &spacing) != TCL_OK)) {
        return TCL_ERROR;
    }
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const draw::Tick& tick : draw::AxisTicks(from, to, width, spacing)) {
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(tick.x));
        Tcl_ListObjAppendElement(nullptr, list, NewText(tick.label));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// vexa::change WAVEID TIME next|previous -> the time of the wave's next (or previous) change
// of value after (before) TIME, or the empty text when there is none.
int ChangeCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const directions[] = {"next", "previous", nullptr};
    Wave wave;
    Time at;
    int direction = 0;
    if (objc != 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "WAVEID TIME next|previous");
        return TCL_ERROR;
    }
    if (FindWave(interp, objv[1], &wave) != TCL_OK || GetTime(interp, objv[2], &at) != TCL_OK ||
        Tcl_GetIndexFromObj(interp, objv[3], directions, "direction", 0, &direction) != TCL_OK) {
        return TCL_ERROR;
    }
    std::size_t i = draw::ChangeIndex(wave.view, at, direction == 0);
    if (i < wave.view.count) {
        Tcl_SetObjResult(
            interp, NewText(draw::FormatTime(draw::TimeOnGrid(wave.view.x(i), wave.view.grid))));
    }
    return TCL_OK;
}

}  // namespace

SampleView ViewOfWave(const WfXWave* wave, const vexahost::WaveHeader& header)
{
    SampleView view;
    view.count = header.count;
    view.text = vexahost::IsTextKind(header.kind);
    view.x = [wave](std::size_t i) { return vexahost::WaveX(wave, i); };
    view.xRun = [wave](std::size_t i, const double** xs) {
        return vexahost::WaveXRun(wave, i, xs);
    };
    view.y = [wave](std::size_t i) { return vexahost::WaveY(wave, i); };
    view.value = [wave](std::size_t i) { return vexahost::WaveText(wave, i); };
    auto& cached = GridCache()[wave];
    if (cached.first != header.count || header.count == 0) {
        bool exact = true;
        cached = {header.count, draw::InferGrid(view, &exact)};
    }
    view.grid = cached.second;
    return view;
}

void ForgetWaveView(const WfXWave* wave)
{
    GridCache().erase(wave);
}

void RegisterDrawCommands(Tcl_Interp* interp)
{
    Tcl_CreateObjCommand(interp, "::vexa::table", Guarded<TableCmd>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::format", Guarded<FormatCmd>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::timegrid", Guarded<TimeGridCmd>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::columns", Guarded<ColumnsCmd>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::ticks", Guarded<TicksCmd>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::change", Guarded<ChangeCmd>, nullptr, nullptr);
}

}  // namespace vexa

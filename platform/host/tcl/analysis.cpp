// analysis.cpp: the Tcl commands that compare and search loaded waveforms: vexa::differences
// (two waveforms), vexa::statistics (one) and vexa::when (the times a condition over a design's
// signals becomes true).
#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "compare.h"
#include "condition.h"
#include "vexa_package.h"
#include "wave_view.h"

namespace vexa {
namespace {

using analysis::Ticks;

struct Wave {
    draw::SampleView view;
    vexahost::WaveHeader header;
};

int FindWave(Tcl_Interp* interp, const std::string& id, Wave* out)
{
    PackageState& state = StateOf(interp);
    auto found = state.waves.find(id);
    if (found == state.waves.end() || !vexahost::ReadWaveHeader(found->second, &out->header)) {
        return PlainError(interp, "unknown waveform \"" + id + "\"");
    }
    out->view = ViewOfWave(found->second, out->header);
    return TCL_OK;
}

Tcl_Obj* NewText(const std::string& text)
{
    return Tcl_NewStringObj(text.c_str(), static_cast<int>(text.size()));
}

// The coarsest grid that holds t exactly.
int GridOf(const draw::Time& t)
{
    draw::Time s = t;
    while (s.mant != 0 && s.mant % 10 == 0 && s.exp < 12) {
        s.mant /= 10;
        ++s.exp;
    }
    return s.mant == 0 ? 12 : s.exp;
}

// Options: -from/-to/-after/-before take a time, -radix a radix, -limit a count; the flags
// -first, -last and -count take nothing. Each command accepts the names it lists.
struct Options {
    std::map<std::string, draw::Time> times;
    draw::Radix radix = draw::Radix::kBin;
    std::size_t limit = static_cast<std::size_t>(-1);
    std::string mode;  // "", -first, -last or -count
};

int ParseOptions(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], const char* const* names,
                 Options* out)
{
    for (int i = 0; i < objc; ++i) {
        int index = 0;
        if (Tcl_GetIndexFromObj(interp, objv[i], names, "option", TCL_EXACT, &index) != TCL_OK) {
            return TCL_ERROR;
        }
        std::string name = names[index];
        if (name == "-first" || name == "-last" || name == "-count") {
            if (!out->mode.empty() && out->mode != name) {
                return PlainError(interp, out->mode + " and " + name + " exclude each other");
            }
            out->mode = name;
            continue;
        }
        if (++i >= objc) {
            return PlainError(interp, "missing value for " + name);
        }
        std::string value = Tcl_GetString(objv[i]);
        std::string error;
        if (name == "-radix") {
            if (!draw::ParseRadix(value, &out->radix)) {
                return PlainError(interp,
                                  "bad radix \"" + value + "\": must be bin, hex, dec or signed");
            }
        } else if (name == "-limit") {
            Tcl_WideInt n = 0;
            if (Tcl_GetWideIntFromObj(interp, objv[i], &n) != TCL_OK || n < 0) {
                return PlainError(interp, "bad limit \"" + value + "\": must be a count");
            }
            out->limit = static_cast<std::size_t>(n);
        } else if (!draw::ParseTime(value, &out->times[name], &error)) {
            return PlainError(interp, error);
        }
    }
    return TCL_OK;
}

// The finest grid of the waves and of the window's times, so that all of them are whole ticks;
// false when some time does not fit that grid.
bool CommonGrid(const std::vector<const draw::SampleView*>& views, const Options& options,
                int* grid)
{
    *grid = 12;
    for (const draw::SampleView* view : views) {
        *grid = std::min(*grid, view->count > 0 ? view->grid : 12);
    }
    for (const auto& entry : options.times) {
        *grid = std::min(*grid, GridOf(entry.second));
    }
    for (const draw::SampleView* view : views) {
        if (!analysis::FitsGrid(*view, *grid)) {
            return false;
        }
    }
    Ticks ignored = 0;
    for (const auto& entry : options.times) {
        if (!analysis::TimeTicks(entry.second, *grid, &ignored)) {
            return false;
        }
    }
    return true;
}

int GridError(Tcl_Interp* interp)
{
    return PlainError(interp, "the times are too far apart to be compared exactly");
}

// The window -from/-to (or -after/-before, one tick inside) in ticks of grid.
analysis::Window WindowOf(const Options& options, int grid)
{
    analysis::Window window;
    for (const char* name : {"-from", "-after"}) {
        auto found = options.times.find(name);
        if (found != options.times.end()) {
            window.hasFrom = true;
            analysis::TimeTicks(found->second, grid, &window.from);
        }
    }
    for (const char* name : {"-to", "-before"}) {
        auto found = options.times.find(name);
        if (found != options.times.end()) {
            window.hasTo = true;
            analysis::TimeTicks(found->second, grid, &window.to);
            window.to -= std::string(name) == "-before" ? 1 : 0;
        }
    }
    return window;
}

std::string TimeText(Ticks ticks, int grid)
{
    return draw::FormatTime(draw::Time{ticks, grid});
}

std::string ValueText(const Wave& wave, std::size_t i, draw::Radix radix)
{
    return i == analysis::kNone ? "-" : draw::FormatSample(wave.view, i, radix);
}

// vexa::differences WAVEA WAVEB ?-from T? ?-to T? ?-radix R? ?-limit N?
// -> {count N first {TIME VALUEA VALUEB} intervals {{FROM TO} ...}}
int DifferencesCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const names[] = {"-from", "-to", "-radix", "-limit", nullptr};
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "WAVEA WAVEB ?-from T? ?-to T? ?-radix R? ?-limit N?");
        return TCL_ERROR;
    }
    Wave a, b;
    Options options;
    if (FindWave(interp, Tcl_GetString(objv[1]), &a) != TCL_OK ||
        FindWave(interp, Tcl_GetString(objv[2]), &b) != TCL_OK ||
        ParseOptions(interp, objc - 3, objv + 3, names, &options) != TCL_OK) {
        return TCL_ERROR;
    }
    bool eventA = a.header.kind == WFX_KIND_EVENT, eventB = b.header.kind == WFX_KIND_EVENT;
    if (a.view.text != b.view.text || eventA != eventB ||
        (a.view.text && a.header.width != b.header.width)) {
        return PlainError(interp, std::string("cannot compare ") + Tcl_GetString(objv[1]) +
                                      " with " + Tcl_GetString(objv[2]) +
                                      ": their kinds or widths differ");
    }
    int grid = 0;
    if (!CommonGrid({&a.view, &b.view}, options, &grid)) {
        return GridError(interp);
    }
    analysis::Window window = WindowOf(options, grid);
    analysis::Differences found =
        eventA ? analysis::CompareEvents(a.view, b.view, grid, window, options.limit)
               : analysis::CompareLevels(a.view, b.view, grid, window, options.limit);
    Tcl_Obj* first = Tcl_NewListObj(0, nullptr);
    if (found.count > 0) {
        Tcl_ListObjAppendElement(nullptr, first, NewText(TimeText(found.first, grid)));
        for (const auto& [wave, sample] :
             {std::pair{&a, found.firstA}, std::pair{&b, found.firstB}}) {
            Tcl_ListObjAppendElement(
                nullptr, first,
                NewText(eventA ? std::to_string(sample) : ValueText(*wave, sample, options.radix)));
        }
    }
    Tcl_Obj* intervals = Tcl_NewListObj(0, nullptr);
    for (const analysis::Interval& i : found.intervals) {
        Tcl_Obj* pair[2] = {NewText(TimeText(i.from, grid)),
                            NewText(i.toEnd ? "" : TimeText(i.to, grid))};
        Tcl_ListObjAppendElement(nullptr, intervals, Tcl_NewListObj(2, pair));
    }
    Tcl_Obj* parts[6] = {
        NewText("count"),     Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(found.count)),
        NewText("first"),     first,
        NewText("intervals"), intervals};
    Tcl_SetObjResult(interp, Tcl_NewListObj(6, parts));
    return TCL_OK;
}

// vexa::statistics WAVEID -from T -to T
// -> {changes N first T last T ?rises N falls N high FRACTION? ?values N?}
int StatisticsCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const names[] = {"-from", "-to", nullptr};
    Wave wave;
    Options options;
    if (objc != 6) {
        Tcl_WrongNumArgs(interp, 1, objv, "WAVEID -from T -to T");
        return TCL_ERROR;
    }
    if (FindWave(interp, Tcl_GetString(objv[1]), &wave) != TCL_OK ||
        ParseOptions(interp, objc - 2, objv + 2, names, &options) != TCL_OK) {
        return TCL_ERROR;
    }
    if (options.times.size() != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "WAVEID -from T -to T");
        return TCL_ERROR;
    }
    int grid = 0;
    if (!CommonGrid({&wave.view}, options, &grid)) {
        return GridError(interp);
    }
    analysis::Window window = WindowOf(options, grid);
    bool event = wave.header.kind == WFX_KIND_EVENT;
    analysis::Statistics s = analysis::Measure(wave.view, event, grid, window.from, window.to);
    Tcl_Obj* dict = Tcl_NewListObj(0, nullptr);
    auto put = [dict](const char* key, Tcl_Obj* value) {
        Tcl_ListObjAppendElement(nullptr, dict, NewText(key));
        Tcl_ListObjAppendElement(nullptr, dict, value);
    };
    auto count = [](std::size_t n) { return Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(n)); };
    put("changes", count(s.changes));
    put("first", NewText(s.changes > 0 ? TimeText(s.first, grid) : ""));
    put("last", NewText(s.changes > 0 ? TimeText(s.last, grid) : ""));
    if (wave.view.text && wave.header.width == 1) {
        Ticks span = window.to - window.from;
        put("rises", count(s.rises));
        put("falls", count(s.falls));
        put("high", Tcl_NewDoubleObj(span > 0 ? static_cast<double>(s.high) / span : 0.0));
    } else if (wave.view.text) {
        put("values", count(s.distinct));
    }
    Tcl_SetObjResult(interp, dict);
    return TCL_OK;
}

// vexa::when: the waves it loaded, per design and path, so that a search typed again loads
// nothing twice (design handles are never reused).
struct WhenState {
    std::map<std::pair<std::string, std::string>, std::string> loaded;
};

int ConditionError(Tcl_Interp* interp, const condition::Error& error)
{
    std::string message =
        "bad condition at character " + std::to_string(error.position) + ": " + error.message;
    Tcl_SetObjResult(interp, NewText(message));
    Tcl_SetErrorCode(interp, "VEXA", "CONDITION", std::to_string(error.position).c_str(), nullptr);
    return TCL_ERROR;
}

// Evaluates ::vexa::design SUBCOMMAND DESIGN ARG; the interpreter's result holds the answer.
int DesignCall(Tcl_Interp* interp, const char* subcommand, Tcl_Obj* design, Tcl_Obj* argument)
{
    Tcl_Obj* words[4] = {NewText("::vexa::design"), NewText(subcommand), design, argument};
    for (Tcl_Obj* word : words) {
        Tcl_IncrRefCount(word);
    }
    int rc = Tcl_EvalObjv(interp, 4, words, TCL_EVAL_GLOBAL);
    for (Tcl_Obj* word : words) {
        Tcl_DecrRefCount(word);
    }
    return rc;
}

// The wave id of the signal PATH of DESIGN, loaded on first use; "" when no file holds it.
int SignalWave(Tcl_Interp* interp, WhenState* state, Tcl_Obj* design, const std::string& path,
               std::string* id)
{
    auto key = std::make_pair(std::string(Tcl_GetString(design)), path);
    auto found = state->loaded.find(key);
    // A wave freed since (vexa::free) is loaded again.
    if (found != state->loaded.end() && StateOf(interp).waves.count(found->second) > 0) {
        *id = found->second;
        return TCL_OK;
    }
    Tcl_Obj* name = NewText(path);
    Tcl_IncrRefCount(name);
    int rc = DesignCall(interp, "locate", design, name);
    bool exists = rc == TCL_OK && Tcl_GetCharLength(Tcl_GetObjResult(interp)) > 0;
    if (rc == TCL_OK && exists) {
        Tcl_Obj* list = Tcl_NewListObj(1, &name);
        rc = DesignCall(interp, "loadwaves", design, list);
    }
    Tcl_DecrRefCount(name);
    if (rc != TCL_OK || !exists) {
        id->clear();
        return rc;
    }
    Tcl_Obj* ids = nullptr;
    if (Tcl_ListObjIndex(interp, Tcl_GetObjResult(interp), 1, &ids) != TCL_OK || ids == nullptr ||
        Tcl_ListObjIndex(interp, ids, 0, &ids) != TCL_OK || ids == nullptr ||
        std::string(Tcl_GetString(ids)) == "0") {
        return PlainError(interp, "couldn't load \"" + path + "\"");
    }
    *id = state->loaded[key] = Tcl_GetString(ids);
    return TCL_OK;
}

// The vector of DESIGN declared as BASE[M:L] (M at least L), as a VCD names one: *path empty when
// there is no single such signal.
int DeclaredVector(Tcl_Interp* interp, Tcl_Obj* design, const std::string& base, std::string* path,
                   int* lowest)
{
    std::string glob;
    for (char c : base) {
        glob += std::strchr("*?[]\\", c) != nullptr ? std::string("\\") + c : std::string(1, c);
    }
    Tcl_Obj* words[5] = {NewText("::vexa::design"), NewText("find"), design, NewText("--"),
                         NewText(glob + "\\[*\\]")};
    for (Tcl_Obj* word : words) {
        Tcl_IncrRefCount(word);
    }
    int rc = Tcl_EvalObjv(interp, 5, words, TCL_EVAL_GLOBAL);
    for (Tcl_Obj* word : words) {
        Tcl_DecrRefCount(word);
    }
    int count = 0;
    Tcl_Obj** found = nullptr;
    if (rc != TCL_OK ||
        Tcl_ListObjGetElements(interp, Tcl_GetObjResult(interp), &count, &found) != TCL_OK) {
        return TCL_ERROR;
    }
    path->clear();
    for (int i = 0; i < count; ++i) {
        std::string candidate = Tcl_GetString(found[i]), stem;
        int msb = 0, lsb = 0;
        if (condition::SplitSelect(candidate, &stem, &msb, &lsb) && stem == base && msb >= lsb &&
            candidate.find(':', base.size()) != std::string::npos) {
            if (!path->empty()) {
                path->clear();
                break;
            }
            *path = candidate;
            *lowest = lsb;
        }
    }
    return TCL_OK;
}

condition::Signal SignalOf(const Wave& wave)
{
    condition::Signal signal;
    signal.view = &wave.view;
    signal.kind = wave.view.text ? condition::Kind::kLogic
                                 : (wave.header.kind == WFX_KIND_EVENT ? condition::Kind::kEvent
                                                                       : condition::Kind::kReal);
    signal.width = wave.view.text ? std::max(wave.header.width, 1) : 1;
    return signal;
}

// Binds every name of the expression to a signal of DESIGN: the whole name when a signal has
// it, else the name before its select, else the vector declared with a range under that name.
int BindAll(Tcl_Interp* interp, WhenState* state, Tcl_Obj* design, condition::Expression* e,
            std::vector<Wave>* waves)
{
    const auto& references = e->References();
    waves->resize(references.size());
    for (std::size_t r = 0; r < references.size(); ++r) {
        const condition::Reference& reference = references[r];
        std::string id;
        bool select = false;
        if (SignalWave(interp, state, design, reference.text, &id) != TCL_OK) {
            return TCL_ERROR;
        }
        std::string path = reference.text;
        int lowest = 0;
        if (id.empty() && reference.hasSelect) {
            select = true;
            path = reference.base;
            if (SignalWave(interp, state, design, path, &id) != TCL_OK ||
                (id.empty() &&
                 DeclaredVector(interp, design, reference.base, &path, &lowest) != TCL_OK) ||
                (id.empty() && !path.empty() &&
                 SignalWave(interp, state, design, path, &id) != TCL_OK)) {
                return TCL_ERROR;
            }
        }
        if (id.empty()) {
            return ConditionError(
                interp,
                condition::Error{reference.position, "no such signal \"" + reference.text + "\""});
        }
        condition::Error error;
        if (FindWave(interp, id, &(*waves)[r]) != TCL_OK) {
            return TCL_ERROR;
        }
        condition::Signal signal = SignalOf((*waves)[r]);
        signal.name = path;
        signal.lowest = lowest;
        if (!e->Bind(r, signal, select, &error)) {
            return error.message.empty() ? TCL_ERROR : ConditionError(interp, error);
        }
    }
    return TCL_OK;
}

// vexa::when DESIGN EXPR ?-from T? ?-to T? ?-after T? ?-before T? ?-first|-last|-count?
// -> the times at which EXPR becomes true, or their number
int WhenCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const names[] = {"-from",  "-to",   "-after", "-before",
                                        "-first", "-last", "-count", nullptr};
    if (objc < 3) {
        Tcl_WrongNumArgs(
            interp, 1, objv,
            "DESIGN EXPR ?-from T? ?-to T? ?-after T? ?-before T? ?-first|-last|-count?");
        return TCL_ERROR;
    }
    Options options;
    if (ParseOptions(interp, objc - 3, objv + 3, names, &options) != TCL_OK) {
        return TCL_ERROR;
    }
    if ((options.times.count("-from") && options.times.count("-after")) ||
        (options.times.count("-to") && options.times.count("-before"))) {
        return PlainError(interp, "-from and -after, or -to and -before, exclude each other");
    }
    condition::Expression expression;
    condition::Error error;
    if (!expression.Parse(Tcl_GetString(objv[2]), &error)) {
        return ConditionError(interp, error);
    }
    std::vector<Wave> waves;
    if (BindAll(interp, static_cast<WhenState*>(data), objv[1], &expression, &waves) != TCL_OK) {
        return TCL_ERROR;
    }
    if (!expression.Check(&error)) {
        return ConditionError(interp, error);
    }
    std::vector<const draw::SampleView*> views;
    for (const Wave& wave : waves) {
        views.push_back(&wave.view);
    }
    int grid = 0;
    if (!CommonGrid(views, options, &grid)) {
        return GridError(interp);
    }
    std::vector<Ticks> times;
    std::size_t count = 0;
    expression.Matches(grid, WindowOf(options, grid), options.times.count("-after") > 0,
                       [&](Ticks t) {
                           ++count;
                           if (options.mode != "-count") {
                               times.resize(options.mode.empty() ? times.size() : 0);
                               times.push_back(t);
                           }
                           return options.mode != "-first";
                       });
    if (options.mode == "-count") {
        Tcl_SetObjResult(interp, Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(count)));
        return TCL_OK;
    }
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (Ticks t : times) {
        Tcl_ListObjAppendElement(nullptr, list, NewText(TimeText(t, grid)));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

void DeleteWhenState(ClientData data)
{
    delete static_cast<WhenState*>(data);
}

}  // namespace

void RegisterAnalysisCommands(Tcl_Interp* interp)
{
    Tcl_CreateObjCommand(interp, "::vexa::differences", Guarded<DifferencesCmd>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::statistics", Guarded<StatisticsCmd>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::when", Guarded<WhenCmd>, new WhenState, DeleteWhenState);
}

}  // namespace vexa

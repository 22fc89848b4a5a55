// files.cpp: the package's file commands, thin calls of a format's handlers: vexa::open,
// vexa::close, vexa::info, vexa::fileinfo, vexa::waveinfo, vexa::query, vexa::loadwave and
// vexa::loadwaves; and the signal paths' commands vexa::find and vexa::sortnames.
#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include "vexa_package.h"

namespace vexa {
namespace {

// A QueryResult as every handler call gets it: an empty dynamic string and answer kind 0.
class Query {
public:
    Query()
    {
        Tcl_DStringInit(&record_.text);
        record_.hostWord = 0;
        record_.answerKind = 0;
    }
    ~Query() { Tcl_DStringFree(&record_.text); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    QueryResult* record() { return &record_; }
    Tcl_Obj* answer() { return Tcl_NewStringObj(Tcl_DStringValue(&record_.text), -1); }

private:
    QueryResult record_;
};

// The extensions of a file name's last component: "run.fsdb.1" gives "fsdb.1" and "1".
std::vector<std::string> Extensions(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    std::string tail = slash == std::string::npos ? path : path.substr(slash + 1);
    std::vector<std::string> extensions;
    for (std::size_t dot = tail.find('.'); dot != std::string::npos;
         dot = tail.find('.', dot + 1)) {
        extensions.push_back(tail.substr(dot + 1));
    }
    return extensions;
}

// The first registered format whose pattern matches one of the name's extensions.
const FormatHandlers* FormatForName(const std::string& path)
{
    std::vector<std::string> extensions = Extensions(path);
    for (const FormatHandlers* format : vexahost::RegisteredFormats()) {
        for (const std::string& extension : extensions) {
            if (Tcl_StringCaseMatch(extension.c_str(), format->filePattern, TCL_MATCH_NOCASE)) {
                return format;
            }
        }
    }
    return nullptr;
}

std::string NextHandle(PackageState& state, const FormatHandlers* format)
{
    std::string prefix = format->formatName;
    for (char& c : prefix) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return prefix + std::to_string(++state.handleCounters[prefix]);
}

int UnknownHandle(Tcl_Interp* interp, Tcl_Obj* handle)
{
    return CodedError(interp, {"UNKNOWN", "HANDLE", Tcl_GetString(handle)},
                      std::string("unknown file handle \"") + Tcl_GetString(handle) + "\"");
}

// Gives the error already set the code {VEXA REWRITTEN HANDLE}: the format refused the load
// because the file changed on disk since it was opened, so a reopen may succeed.
int RewrittenCode(Tcl_Interp* interp, const std::string& handle)
{
    Tcl_Obj* code[3] = {Tcl_NewStringObj("VEXA", -1), Tcl_NewStringObj("REWRITTEN", -1),
                        Tcl_NewStringObj(handle.c_str(), -1)};
    Tcl_SetObjErrorCode(interp, Tcl_NewListObj(3, code));
    return TCL_ERROR;
}

int UnknownFormat(Tcl_Interp* interp, Tcl_Obj* name)
{
    return CodedError(interp, {"UNKNOWN", "FORMAT", Tcl_GetString(name)},
                      std::string("unknown format \"") + Tcl_GetString(name) + "\"");
}

// vexa::open PATH ?FORMAT?
int OpenCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2 && objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "PATH ?FORMAT?");
        return TCL_ERROR;
    }
    auto* state = static_cast<PackageState*>(data);
    std::string path = Tcl_GetString(objv[1]);
    const FormatHandlers* format =
        objc == 3 ? vexahost::FindFormat(Tcl_GetString(objv[2])) : FormatForName(path);
    if (format == nullptr && objc == 3) {
        return UnknownFormat(interp, objv[2]);
    }
    if (format == nullptr) {
        return PlainError(interp,
                          "couldn't open \"" + path + "\": no registered format matches its name");
    }
    ReaderContext* context = nullptr;
    if (format->open(interp, path.c_str(), &context) != 0) {
        return CodedError(
            interp, {"REFUSED"},
            "couldn't open \"" + path + "\": the " + format->formatName + " format refused it");
    }
    try {
        auto file = std::make_unique<OpenFile>();
        file->handle = NextHandle(*state, format);
        file->path = path;
        file->format = format;
        file->context = context;
        state->files.push_back(std::move(file));
    } catch (...) {
        // The file cannot be recorded: give it back to its format before failing the command.
        format->close(interp, context);
        throw;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(state->files.back()->handle.c_str(), -1));
    return TCL_OK;
}

// vexa::close HANDLE
int CloseCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "HANDLE");
        return TCL_ERROR;
    }
    auto* state = static_cast<PackageState*>(data);
    std::string handle = Tcl_GetString(objv[1]);
    for (auto it = state->files.begin(); it != state->files.end(); ++it) {
        if ((*it)->handle == handle) {
            std::unique_ptr<OpenFile> file = std::move(*it);
            state->files.erase(it);
            file->format->close(interp, file->context);
            Tcl_ResetResult(interp);
            return TCL_OK;
        }
    }
    return UnknownHandle(interp, objv[1]);
}

// The three query handlers, called the same way by the plain and the raw commands.
enum QueryType { kInfoQuery, kFileQuery, kWaveQuery };

struct QueryCall {
    int handlerResult = 0;
    std::string refusal;  // what was refused, for the error message
};

// Runs the query words objv[0..] of the given type into query; TCL_ERROR for bad arguments.
int RunQuery(PackageState& state, Tcl_Interp* interp, QueryType type, Tcl_Obj* const objv[],
             Query& query, QueryCall* call)
{
    Tcl_ResetResult(interp);
    if (type == kInfoQuery) {
        const FormatHandlers* format = vexahost::FindFormat(Tcl_GetString(objv[0]));
        if (format == nullptr) {
            return UnknownFormat(interp, objv[0]);
        }
        const char* option = Tcl_GetString(objv[1]);
        call->handlerResult = format->info(nullptr, option, query.record());
        call->refusal = std::string("the ") + format->formatName +
                        " format refused the info query \"" + option + "\"";
        return TCL_OK;
    }
    OpenFile* file = FindFile(state, Tcl_GetString(objv[0]));
    if (file == nullptr) {
        return UnknownHandle(interp, objv[0]);
    }
    if (type == kFileQuery) {
        const char* text = Tcl_GetString(objv[1]);
        call->handlerResult = file->format->fileInfo(interp, file->context, text, query.record());
        call->refusal = std::string("the ") + file->format->formatName +
                        " format refused the file query \"" + text + "\" of " + file->handle;
        return TCL_OK;
    }
    const char* wave = Tcl_GetString(objv[1]);
    const char* option = Tcl_GetString(objv[2]);
    call->handlerResult =
        file->format->waveInfo(nullptr, file->context, wave, option, query.record());
    call->refusal = std::string("the ") + file->format->formatName +
                    " format refused the waveform query \"" + option + "\" for \"" + wave +
                    "\" of " + file->handle;
    return TCL_OK;
}

// vexa::info FORMAT OPTION, vexa::fileinfo HANDLE QUERY, vexa::waveinfo HANDLE WAVENAME OPTION
template <QueryType type>
int AnswerCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const usage[] = {"FORMAT OPTION", "HANDLE QUERY", "HANDLE WAVENAME OPTION"};
    int words = type == kWaveQuery ? 3 : 2;
    if (objc != words + 1) {
        Tcl_WrongNumArgs(interp, 1, objv, usage[type]);
        return TCL_ERROR;
    }
    Query query;
    QueryCall call;
    if (RunQuery(*static_cast<PackageState*>(data), interp, type, objv + 1, query, &call) !=
        TCL_OK) {
        return TCL_ERROR;
    }
    if (call.handlerResult != 0) {
        return RefusalError(interp, call.refusal);
    }
    Tcl_SetObjResult(interp, query.answer());
    return TCL_OK;
}

int LoadMany(PackageState& state, Tcl_Interp* interp, Tcl_Obj* const objv[], int objc,
             Tcl_Obj** result, std::vector<std::string>* failed);

// vexa::query info FORMAT OPTION | fileinfo HANDLE QUERY | waveinfo HANDLE WAVENAME OPTION
// -> {handlerResult answerKind answerText}; vexa::query loadwaves HANDLE PATHLIST ?IDLIST?
// -> {handlerResult {slot ...}}
int RawQueryCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const types[] = {"info", "fileinfo", "waveinfo", "loadwaves", nullptr};
    static const char* const usage[] = {"FORMAT OPTION", "HANDLE QUERY", "HANDLE WAVENAME OPTION"};
    const int kLoadWaves = 3;
    int type = 0;
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "info|fileinfo|waveinfo|loadwaves ARG ...");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], types, "query", 0, &type) != TCL_OK) {
        return TCL_ERROR;
    }
    if (type == kLoadWaves) {
        if (objc != 4 && objc != 5) {
            Tcl_WrongNumArgs(interp, 2, objv, "HANDLE PATHLIST ?IDLIST?");
            return TCL_ERROR;
        }
        Tcl_Obj* result = nullptr;
        std::vector<std::string> failed;
        if (LoadMany(*static_cast<PackageState*>(data), interp, objv + 1, objc - 1, &result,
                     &failed) != TCL_OK) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, result);
        return TCL_OK;
    }
    int words = type == kWaveQuery ? 3 : 2;
    if (objc != words + 2) {
        Tcl_WrongNumArgs(interp, 2, objv, usage[type]);
        return TCL_ERROR;
    }
    Query query;
    QueryCall call;
    if (RunQuery(*static_cast<PackageState*>(data), interp, static_cast<QueryType>(type), objv + 2,
                 query, &call) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_Obj* parts[3] = {Tcl_NewIntObj(call.handlerResult),
                         Tcl_NewIntObj(query.record()->answerKind), query.answer()};
    Tcl_SetObjResult(interp, Tcl_NewListObj(3, parts));
    return TCL_OK;
}

// vexa::loadwave HANDLE PATH -> wave id
int LoadWaveCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "HANDLE PATH");
        return TCL_ERROR;
    }
    auto* state = static_cast<PackageState*>(data);
    OpenFile* file = FindFile(*state, Tcl_GetString(objv[1]));
    if (file == nullptr) {
        return UnknownHandle(interp, objv[1]);
    }
    std::string path = Tcl_GetString(objv[2]);
    std::vector<char> writable(path.begin(), path.end());
    writable.push_back('\0');
    WfXWave* wave = nullptr;
    Tcl_ResetResult(interp);
    std::string failed = "couldn't load \"" + path + "\" from " + file->handle;
    unsigned reports = state->rewrittenReports;
    if (file->format->loadWave(interp, file->context, writable.data(), &wave) != 0) {
        bool rewritten = ReportedRewritten(*state, interp, reports);
        RefusalError(interp, failed);
        return rewritten ? RewrittenCode(interp, file->handle) : TCL_ERROR;
    }
    std::string id = WaveIdFor(*state, wave);
    if (id == "0") {
        return PlainError(interp, failed + ": the format gave no waveform");
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(id.c_str(), -1));
    return TCL_OK;
}

// Calls the load-many handler; *result becomes {handlerResult {slot ...}} and *failed the paths
// whose slot stayed empty.
int LoadMany(PackageState& state, Tcl_Interp* interp, Tcl_Obj* const objv[], int objc,
             Tcl_Obj** result, std::vector<std::string>* failed)
{
    OpenFile* file = FindFile(state, Tcl_GetString(objv[1]));
    if (file == nullptr) {
        return UnknownHandle(interp, objv[1]);
    }
    const char* paths = Tcl_GetString(objv[2]);
    int count = 0;
    const char** words = nullptr;
    if (Tcl_SplitList(interp, paths, &count, &words) != TCL_OK) {
        return TCL_ERROR;
    }
    std::vector<std::string> names(words, words + count);
    Tcl_Free(reinterpret_cast<char*>(words));
    // One slot per path; at least one so that the array is never null.
    std::vector<WfXWave*> slots(static_cast<std::size_t>(count) + 1, nullptr);
    const char* ids = objc == 4 ? Tcl_GetString(objv[3]) : "";
    Tcl_ResetResult(interp);
    int rc = file->format->loadWaves(interp, file->context, paths, ids, slots.data());
    Tcl_Obj* slotList = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < count; ++i) {
        std::string id = WaveIdFor(state, slots[i]);
        if (id == "0") {
            failed->push_back(names[static_cast<std::size_t>(i)]);
        }
        Tcl_ListObjAppendElement(interp, slotList, Tcl_NewStringObj(id.c_str(), -1));
    }
    if (rc != 0 && failed->empty()) {
        failed->push_back("");
    }
    Tcl_Obj* parts[2] = {Tcl_NewIntObj(rc), slotList};
    *result = Tcl_NewListObj(2, parts);
    return TCL_OK;
}

// vexa::loadwaves HANDLE PATHLIST ?IDLIST? -> {handlerResult {slot ...}} when every path
// loaded; otherwise an error naming the paths that did not, with that list as its error code
// {VEXA LOADWAVES {handlerResult {slot ...}}}. vexa::query loadwaves answers the list always.
int LoadWavesCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3 && objc != 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "HANDLE PATHLIST ?IDLIST?");
        return TCL_ERROR;
    }
    Tcl_Obj* result = nullptr;
    std::vector<std::string> failed;
    auto* state = static_cast<PackageState*>(data);
    unsigned reports = state->rewrittenReports;
    if (LoadMany(*state, interp, objv, objc, &result, &failed) != TCL_OK) {
        return TCL_ERROR;
    }
    bool rewritten = ReportedRewritten(*state, interp, reports);
    if (failed.empty()) {
        Tcl_SetObjResult(interp, result);
        return TCL_OK;
    }
    std::string message = "couldn't load ";
    for (std::size_t i = 0; i < failed.size(); ++i) {
        message += (i == 0 ? "\"" : ", \"") + failed[i] + "\"";
    }
    if (failed.front().empty()) {
        message = "the format reported a failed load";
    }
    message += std::string(" from ") + Tcl_GetString(objv[1]);
    Tcl_Obj* code[3] = {Tcl_NewStringObj("VEXA", -1), Tcl_NewStringObj("LOADWAVES", -1), result};
    Tcl_SetObjErrorCode(interp, Tcl_NewListObj(3, code));
    PlainError(interp, message);
    return rewritten ? RewrittenCode(interp, Tcl_GetString(objv[1])) : TCL_ERROR;
}

// vexa::find HANDLE ?GLOB? ?-type analog|event|digital|bus? -> the matching signal paths,
// through the format's search query.
int FindCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const char* const types[] = {"analog", "event", "digital", "bus", nullptr};
    static const char* const options[] = {"-type", nullptr};
    std::string pattern = "*";
    const char* type = nullptr;
    bool hasPattern = false;
    for (int i = 2; i < objc; ++i) {
        const char* word = Tcl_GetString(objv[i]);
        int index = 0;
        if (std::string(word) == "--" && i + 1 < objc && !hasPattern) {
            pattern = Tcl_GetString(objv[++i]);
            hasPattern = true;
        } else if (word[0] == '-') {
            if (Tcl_GetIndexFromObj(interp, objv[i], options, "option", 0, &index) != TCL_OK) {
                return TCL_ERROR;
            }
            if (i + 1 >= objc) {
                return PlainError(interp, "missing value for -type");
            }
            if (Tcl_GetIndexFromObj(interp, objv[++i], types, "type", 0, &index) != TCL_OK) {
                return TCL_ERROR;
            }
            type = types[index];
        } else if (!hasPattern) {
            pattern = word;
            hasPattern = true;
        } else {
            Tcl_WrongNumArgs(interp, 1, objv, "HANDLE ?GLOB? ?-type analog|event|digital|bus?");
            return TCL_ERROR;
        }
    }
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "HANDLE ?GLOB? ?-type analog|event|digital|bus?");
        return TCL_ERROR;
    }
    OpenFile* file = FindFile(*static_cast<PackageState*>(data), Tcl_GetString(objv[1]));
    if (file == nullptr) {
        return UnknownHandle(interp, objv[1]);
    }
    // Five words make the search query; without a type the pattern pair is given twice.
    const char* words[5] = {"-waveforms", "-pattern", pattern.c_str(),
                            type ? "-withtype" : "-pattern", type ? type : pattern.c_str()};
    char* text = Tcl_Merge(5, words);
    Query query;
    Tcl_ResetResult(interp);
    int rc = file->format->fileInfo(interp, file->context, text, query.record());
    std::string refusal = std::string("the ") + file->format->formatName +
                          " format refused the search \"" + text + "\" of " + file->handle;
    Tcl_Free(text);
    if (rc != 0) {
        return RefusalError(interp, refusal);
    }
    Tcl_SetObjResult(interp, query.answer());
    return TCL_OK;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The run of digits at *at, moved past: its digits without leading zeros, and how many zeros.
std::string_view DigitRun(const std::string& text, std::size_t* at, std::size_t* zeros)
{
    std::size_t start = *at;
    while (*at < text.size() && text[*at] == '0') {
        ++*at;
    }
    *zeros = *at - start;
    std::size_t first = *at;
    while (*at < text.size() && IsDigit(text[*at])) {
        ++*at;
    }
    return std::string_view(text).substr(first, *at - first);
}

// A character's place in name order: "/" before every other, letters without regard to case.
int NameRank(char c)
{
    return c == '/' ? -1 : std::tolower(static_cast<unsigned char>(c));
}

// Signal paths in the order people read them: name by name along the path, runs of digits as
// numbers (q[2] before q[10]), case only where nothing else differs. Negative, 0 or positive.
int CompareNames(const std::string& a, const std::string& b)
{
    // Equal bytes decide nothing, so the walk starts where the paths part (a large design's
    // paths share long scopes), backed up to the start of a digit run crossing that point.
    std::size_t start = 0;
    std::size_t shorter = std::min(a.size(), b.size());
    while (start < shorter && a[start] == b[start]) {
        ++start;
    }
    while (start > 0 && IsDigit(a[start - 1])) {
        --start;
    }
    int tie = 0;
    std::size_t i = start;
    std::size_t j = start;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t zerosA = 0;
            std::size_t zerosB = 0;
            std::string_view na = DigitRun(a, &i, &zerosA);
            std::string_view nb = DigitRun(b, &j, &zerosB);
            if (na.size() != nb.size()) {
                return na.size() < nb.size() ? -1 : 1;
            }
            if (int order = na.compare(nb); order != 0) {
                return order;
            }
            if (tie == 0 && zerosA != zerosB) {
                tie = zerosA < zerosB ? -1 : 1;
            }
            continue;
        }
        if (NameRank(a[i]) != NameRank(b[j])) {
            return NameRank(a[i]) - NameRank(b[j]);
        }
        if (tie == 0 && a[i] != b[j]) {
            tie = static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    return i < a.size() ? 1 : (j < b.size() ? -1 : tie);
}

// vexa::sortnames LIST -> the signal paths (or names) of LIST in name order.
int SortNamesCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "LIST");
        return TCL_ERROR;
    }
    int count = 0;
    Tcl_Obj** items = nullptr;
    if (Tcl_ListObjGetElements(interp, objv[1], &count, &items) != TCL_OK) {
        return TCL_ERROR;
    }
    std::vector<std::pair<std::string, Tcl_Obj*>> names;
    names.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        names.emplace_back(Tcl_GetString(items[i]), items[i]);
    }
    std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return CompareNames(a.first, b.first) < 0;
    });
    Tcl_Obj* result = Tcl_NewListObj(0, nullptr);
    for (const auto& name : names) {
        Tcl_ListObjAppendElement(interp, result, name.second);
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

}  // namespace

void RegisterFileCommands(Tcl_Interp* interp)
{
    PackageState* state = &StateOf(interp);
    Tcl_CreateObjCommand(interp, "::vexa::open", Guarded<OpenCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::close", Guarded<CloseCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::info", Guarded<AnswerCmd<kInfoQuery>>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::fileinfo", Guarded<AnswerCmd<kFileQuery>>, state,
                         nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::waveinfo", Guarded<AnswerCmd<kWaveQuery>>, state,
                         nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::query", Guarded<RawQueryCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::loadwave", Guarded<LoadWaveCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::loadwaves", Guarded<LoadWavesCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::find", Guarded<FindCmd>, state, nullptr);
    Tcl_CreateObjCommand(interp, "::vexa::sortnames", Guarded<SortNamesCmd>, nullptr, nullptr);
}

}  // namespace vexa

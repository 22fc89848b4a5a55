// fake_format.cpp: a tiny format plug-in "FAKE" (pattern "fake*") for the tests of the vexa
// commands: it answers queries from its file path and loads made-up waveforms.
#include <tcl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pf_format.h"

struct ReaderContext {
    std::string path;
    std::string heldBefore;  // what "llength [pf:info open PATH]" gave at open
};

namespace {

int closedCount = 0;

void Answer(QueryResult* result, const std::string& text)
{
    result->answerKind = PF_ANSWER_KIND;
    Tcl_DStringAppend(&result->text, text.c_str(), -1);
}

int Info(void*, const char* option, QueryResult* result)
{
    if (std::strcmp(option, "-author") == 0) {
        Answer(result, "Fake");
        return 0;
    }
    if (std::strcmp(option, "-closed") == 0) {
        Answer(result, std::to_string(closedCount));
        return 0;
    }
    return 1;
}

int Open(Tcl_Interp* interp, const char* path, ReaderContext** out)
{
    if (std::strstr(path, "refuse") != nullptr) {
        *out = nullptr;
        return 1;
    }
    auto* context = new ReaderContext{path, ""};
    std::string script = std::string("llength [pf:info open {") + path + "}]";
    if (Tcl_Eval(interp, script.c_str()) == TCL_OK) {
        context->heldBefore = Tcl_GetStringResult(interp);
    }
    *out = context;
    return 0;
}

// With FAKE_CLOSE_LOG set, each close appends the file's path to that file.
int Close(Tcl_Interp*, ReaderContext* context)
{
    const char* log = std::getenv("FAKE_CLOSE_LOG");
    if (log != nullptr && context != nullptr) {
        if (FILE* out = std::fopen(log, "a")) {
            std::fprintf(out, "%s\n", context->path.c_str());
            std::fclose(out);
        }
    }
    delete context;
    ++closedCount;
    return 0;
}

int FileInfo(Tcl_Interp* interp, ReaderContext* context, const char* query, QueryResult* result)
{
    if (std::strcmp(query, "-path") == 0) {
        Answer(result, context->path);
    } else if (std::strcmp(query, "-held") == 0) {
        Answer(result, context->heldBefore);
    } else if (std::strcmp(query, "-fail") == 0) {
        Tcl_SetResult(interp, const_cast<char*>("it broke"), TCL_STATIC);
        return 1;
    } else {
        return 1;
    }
    return 0;
}

int WaveInfo(void*, ReaderContext*, const char* wave, const char* option, QueryResult* result)
{
    if (std::strcmp(option, "-name") != 0) {
        return 1;
    }
    Answer(result, wave);
    return 0;
}

// "bad" fails; a name starting with "logic" gives two text samples; anything else two reals.
WfXWave* MakeWave(const char* path)
{
    if (std::strcmp(path, "bad") == 0) {
        return nullptr;
    }
    bool logic = std::strncmp(path, "logic", 5) == 0;
    WfXWave* wave = WfX_CreateXTyp(nullptr, logic ? WFX_KIND_LOGIC : WFX_KIND_DOUBLE, "time", "s",
                                   "real", 0, path, logic ? "" : "V", 1, 0);
    auto* x = static_cast<double*>(std::malloc(2 * sizeof(double)));
    x[0] = 0;
    x[1] = 1e-9;
    if (logic) {
        const char* texts[2] = {"0", "X"};
        WfX_AddValuesSimp(nullptr, wave, x, texts, 2, 1);
    } else {
        auto* y = static_cast<double*>(std::malloc(2 * sizeof(double)));
        y[0] = 1.5;
        y[1] = -0.5;
        WfX_AddValuesSimp(nullptr, wave, x, y, 2, 1);
    }
    return wave;
}

int LoadWave(Tcl_Interp*, ReaderContext*, char* path, WfXWave** out)
{
    *out = MakeWave(path);
    return *out == nullptr ? 1 : 0;
}

int LoadWaves(Tcl_Interp* interp, ReaderContext*, const char* paths, const char* ids, WfXWave** out)
{
    int count = 0;
    const char** words = nullptr;
    if (Tcl_SplitList(interp, paths, &count, &words) != TCL_OK) {
        return 1;
    }
    int rc = 0;
    for (int i = 0; i < count; ++i) {
        out[i] = MakeWave(words[i]);
        if (out[i] == nullptr) {
            rc = 1;
        } else {
            WfX_Done(nullptr, out[i]);
        }
    }
    Tcl_Free(reinterpret_cast<char*>(words));
    return ids[0] == '\0' ? rc : rc + 10;  // lets the tests see that the ids arrived
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int Fakeformat_Init(Tcl_Interp* interp)
{
    static FormatHandlers table = {const_cast<char*>("FAKE"),
                                   const_cast<char*>("fake*"),
                                   Info,
                                   Open,
                                   Close,
                                   FileInfo,
                                   WaveInfo,
                                   LoadWave,
                                   LoadWaves};
    // A second load finds the name taken; the first table stays in use.
    PfFormat_CreateExternalFormat(interp, &table);
    return TCL_OK;
}

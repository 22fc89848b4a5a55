// wave_info.cpp: the waveform-attribute query handler: axis names, units and scales of one
// waveform, and its kind and y unit looked up from the signal itself.
#include <stdlib.h>

#include "context/context.h"
#include "context/paths.h"
#include "context/var_types.h"
#include "query/options.h"
#include "query/queries.h"

enum WaveAnswer {
    WAVE_NONE,
    WAVE_FIXED,
    WAVE_KIND,
    WAVE_XNAME,
    WAVE_XUNIT,
    WAVE_YNAME,
    WAVE_YUNIT
};

// clang-format off
const QueryOption kWaveInfoOptions[] = {
    {"-datatype", 'd', 3, WAVE_FIXED, "real"},
    {"-got_xaxis", 'g', 3, WAVE_FIXED, "1"},
    {"-nsegments", 'n', 3, WAVE_FIXED, "1"},
    {"-wftype", 'w', 3, WAVE_KIND, NULL},
    {"-xname", 'x', 3, WAVE_XNAME, NULL},
    {"-xunit", 'x', 3, WAVE_XUNIT, NULL},
    {"-xscale", 'x', 3, WAVE_FIXED, "linear"},
    {"-yname", 'y', 3, WAVE_YNAME, NULL},
    {"-yscale", 'y', 3, WAVE_FIXED, "linear"},
    {"-yunit", 'y', 3, WAVE_YUNIT, NULL},
};
// clang-format on
const size_t kWaveInfoOptionCount = sizeof kWaveInfoOptions / sizeof kWaveInfoOptions[0];

// The variable type of the signal at waveName, through the context's live reader.
// 1 when the path names no signal or the reader can no longer be used.
static int LookUpVarType(ReaderContext* context, const char* waveName, unsigned char* varType)
{
    int idcode = PathToIdcode(waveName, context);
    if (idcode == -1 || FetchVarInfo(context, idcode) == NULL) {
        return 1;
    }
    *varType = context->varInfo->varType;
    return 0;
}

static int AnswerWaveKind(ReaderContext* context, const char* waveName, Tcl_DString* answer)
{
    unsigned char varType;
    if (LookUpVarType(context, waveName, &varType) != 0) {
        return 1;
    }
    switch (LeafKind(context, varType)) {
    case LEAF_EVENT: Tcl_DStringAppend(answer, "event", -1); break;
    case LEAF_DIGITAL: Tcl_DStringAppend(answer, "digital", -1); break;
    default: Tcl_DStringAppend(answer, "analog", -1); break;
    }
    return 0;
}

static int AnswerYUnit(ReaderContext* context, const char* waveName, Tcl_DString* answer)
{
    unsigned char varType;
    if (LookUpVarType(context, waveName, &varType) != 0) {
        return 1;
    }
    int kind;
    char* unit = NULL;
    HostWaveKind(context, &kind, &unit, varType);
    if (unit != NULL) {
        Tcl_DStringAppend(answer, unit, -1);
        free(unit);
    }
    return 0;
}

static void AppendHeld(Tcl_DString* answer, const char* text)
{
    if (text != NULL) {
        Tcl_DStringAppend(answer, text, -1);
    }
}

int Quorvel_WaveInfo(void* unused, ReaderContext* context, const char* waveName, const char* option,
                     QueryResult* result)
{
    (void)unused;
    if (waveName == NULL || option == NULL || option[0] != '-' || option[1] == '\0') {
        return 1;
    }
    if (context == NULL || result == NULL) {
        return 1;
    }
    Tcl_DStringInit(&result->text);
    result->answerKind = PF_ANSWER_KIND;
    Tcl_DString* answer = &result->text;
    const QueryOption* row = FindQueryOption(kWaveInfoOptions, kWaveInfoOptionCount, option);
    switch (row == NULL ? WAVE_NONE : row->answer) {
    case WAVE_FIXED: Tcl_DStringAppend(answer, row->text, -1); break;
    case WAVE_KIND: return AnswerWaveKind(context, waveName, answer);
    case WAVE_XNAME: AppendHeld(answer, context->xName); break;
    case WAVE_XUNIT: AppendHeld(answer, context->xUnit); break;
    case WAVE_YNAME: Tcl_DStringAppend(answer, waveName, -1); break;
    case WAVE_YUNIT: return AnswerYUnit(context, waveName, answer);
    default: break;
    }
    return 0;
}

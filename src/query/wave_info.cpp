// wave_info.cpp: the waveform-attribute query handler: axis names, units and scales of one
// waveform, and its kind and y unit looked up from the signal itself.
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "context/paths.h"
#include "context/var_types.h"
#include "query/queries.h"

// Options are chosen by their second character and then by their first 3 characters.
static int IsOption(const char* option, const char* name)
{
    return strncmp(option, name, 3) == 0;
}

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
    switch (option[1]) {
    case 'd':
        if (IsOption(option, "-datatype")) {
            Tcl_DStringAppend(answer, "real", -1);
        }
        break;
    case 'g':
        if (IsOption(option, "-got_xaxis")) {
            Tcl_DStringAppend(answer, "1", -1);
        }
        break;
    case 'n':
        if (IsOption(option, "-nsegments")) {
            Tcl_DStringAppend(answer, "1", -1);
        }
        break;
    case 'w':
        if (IsOption(option, "-wftype")) {
            return AnswerWaveKind(context, waveName, answer);
        }
        break;
    case 'x':
        if (IsOption(option, "-xname")) {
            AppendHeld(answer, context->xName);
        } else if (IsOption(option, "-xunit")) {
            AppendHeld(answer, context->xUnit);
        } else if (IsOption(option, "-xscale")) {
            Tcl_DStringAppend(answer, "linear", -1);
        }
        break;
    case 'y':
        if (IsOption(option, "-yname")) {
            Tcl_DStringAppend(answer, waveName, -1);
        } else if (IsOption(option, "-yscale")) {
            Tcl_DStringAppend(answer, "linear", -1);
        } else if (IsOption(option, "-yunit")) {
            return AnswerYUnit(context, waveName, answer);
        }
        break;
    default: break;
    }
    return 0;
}

// file_info.cpp: the file-attribute query handler: format and design names, counts, and
// browsing of the file's signal tree (children of a scope, leaf lists, search, leaf types).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/portability.h"
#include "context/context.h"
#include "context/script.h"
#include "query/options.h"
#include "query/queries.h"

static const char* const kSeparator = "/";

enum FileAnswer {
    FILE_FIXED,
    FILE_CREATED,
    FILE_CHILD_NODES,
    FILE_DESIGN,
    FILE_FILENAMES,
    FILE_NWAVEFORMS,
    FILE_LEAF_LIST,
    FILE_LEAF_TYPES,
    FILE_TIME_SCALE,
};

// "-waveids" is told from "-waveforms" inside the leaf list, by its first 8 characters.
// clang-format off
const QueryOption kFileInfoOptions[] = {
    {"-created", 'c', 3, FILE_CREATED, NULL},
    {"-childNodes", 'c', 6, FILE_CHILD_NODES, NULL},
    {"-design", 'd', 3, FILE_DESIGN, NULL},
    {"-filenames", 'f', 3, FILE_FILENAMES, NULL},
    {"-nwaveforms", 'n', 3, FILE_NWAVEFORMS, NULL},
    {"-nsegments", 'n', 3, FILE_FIXED, "1"},
    {"-pfname", 'p', 4, FILE_DESIGN, NULL},
    {"-program", 'p', 3, FILE_FIXED, "FSDB"},
    {"-separator", 's', 3, FILE_FIXED, kSeparator},
    {"-timescale", 't', 3, FILE_TIME_SCALE, NULL},
    {"-waveforms", 'w', 3, FILE_LEAF_LIST, NULL},
    {"-wftypes", 'w', 3, FILE_LEAF_TYPES, NULL},
};
// clang-format on
const size_t kFileInfoOptionCount = sizeof kFileInfoOptions / sizeof kFileInfoOptions[0];

// The words inside a query are chosen by comparing this many leading characters.
static bool StartsAs(const char* text, const char* option, size_t count)
{
    return strncmp(text, option, count) == 0;
}

// Splits the query text into words; on failure releases what the split left and returns 1.
static int SplitQuery(Tcl_Interp* interp, const char* query, int* count, const char*** words)
{
    *count = 0;
    *words = NULL;
    if (Tcl_SplitList(interp, query, count, words) == TCL_OK) {
        return 0;
    }
    if (*words != NULL) {
        Tcl_Free((char*)*words);
        *words = NULL;
    }
    return 1;
}

// Last component of the path up to its last dot; empty when the evaluation fails.
static void AppendDesignName(Tcl_Interp* interp, const ReaderContext* context, Tcl_DString* answer)
{
    // The path is one literal word of the script: blanks, brackets and dollar signs in it
    // reach "file tail" unchanged and nothing in it is evaluated.
    if (EvalFileCommand(interp, "file rootname [file tail ", context->path, " ]") == TCL_OK) {
        Tcl_DStringAppend(answer, Tcl_GetStringResult(interp), -1);
    }
}

// "-childNodes -parentPath PATH": the names of the children of the node at PATH.
static int AnswerChildNodes(const ReaderContext* context, int count, const char** words,
                            Tcl_DString* answer)
{
    if (count < 3 || !StartsAs(words[1], "-parentPath", 7)) {
        return 0;
    }
    ReaderTreeNode* node = NULL;
    // The tree may modify the path it is given, so it gets a private copy.
    char* copy = _strdup(words[2]);
    if (copy != NULL && context->tree != NULL) {
        node = context->tree->GetNodeFromPath(NULL, copy);
    }
    free(copy);
    if (node == NULL) {
        return 1;
    }
    context->tree->GetAllChildNodeNames(node, answer);
    return 0;
}

// "-waveforms", "-waveids" (optionally "-withtype TYPE"), or a search when given 5 words.
static void AnswerLeafList(Tcl_Interp* interp, const ReaderContext* context, const char* query,
                           int count, const char** words, Tcl_DString* answer)
{
    ReaderTree* tree = context->tree;
    if (tree == NULL) {
        return;
    }
    if (count == 5) {
        // The tree's search reads the query it answers from the result it is given.
        Tcl_DStringAppend(answer, query, -1);
        tree->SearchTree(interp, 4, words + 1, answer);
        return;
    }
    short leafType = -1;
    if (count >= 3 && StartsAs(words[1], "-withtype", 4)) {
        leafType = tree->GetLeafTypeFromString(words[2]);
    }
    Tcl_DString scratch;
    Tcl_DStringInit(&scratch);
    if (StartsAs(query, "-waveids", 8)) {
        tree->GetTreeLeaveFullPathsNIds(tree->rootNode, &scratch, leafType, answer);
    } else {
        tree->GetTreeLeaveFullPaths(tree->rootNode, &scratch, leafType, answer);
    }
    Tcl_DStringFree(&scratch);
}

// The two queries read as Tcl lists: split into words, answered, the words released.
static int AnswerFromWords(Tcl_Interp* interp, const ReaderContext* context, const char* query,
                           int option, Tcl_DString* answer)
{
    int count;
    const char** words;
    if (SplitQuery(interp, query, &count, &words) != 0) {
        return 1;
    }
    int code = 0;
    if (option == FILE_CHILD_NODES) {
        code = AnswerChildNodes(context, count, words, answer);
    } else {
        AnswerLeafList(interp, context, query, count, words, answer);
    }
    Tcl_Free((char*)words);
    return code;
}

// The words of the leaf types present, in slot order; a slot outside 0..3 adds nothing.
static void AppendLeafTypes(const ReaderTree* tree, Tcl_DString* answer)
{
    static const char* const kWords[] = {" analog", " event", " digital", " bus"};
    if (tree == NULL) {
        return;
    }
    char text[4 * 8 + 1];
    text[0] = '\0';
    for (int slot = 0; slot < 4; slot++) {
        short value = tree->leafTypes[slot];
        if (value >= 0 && value <= 3) {
            strcat(text, kWords[value]);
        }
    }
    Tcl_DStringAppend(answer, text, -1);
}

// Answers one selected option; 0, or 1 when the query cannot be answered.
static int AnswerFileOption(Tcl_Interp* interp, const ReaderContext* context, const char* query,
                            const QueryOption* option, Tcl_DString* answer)
{
    switch (option->answer) {
    case FILE_FIXED: Tcl_DStringAppend(answer, option->text, -1); break;
    case FILE_CREATED:
        if (context->stamp != NULL) {
            Tcl_DStringAppend(answer, context->stamp, -1);
        }
        break;
    case FILE_CHILD_NODES:
    case FILE_LEAF_LIST: return AnswerFromWords(interp, context, query, option->answer, answer);
    case FILE_DESIGN: AppendDesignName(interp, context, answer); break;
    case FILE_FILENAMES:
        if (context->path != NULL) {
            Tcl_DStringAppendElement(answer, context->path);
        }
        break;
    case FILE_NWAVEFORMS: {
        char number[16];
        snprintf(number, sizeof number, "%d", context->waveCount);
        Tcl_DStringAppend(answer, number, -1);
        break;
    }
    case FILE_LEAF_TYPES: AppendLeafTypes(context->tree, answer); break;
    case FILE_TIME_SCALE: {
        // Seconds per tick, to the last bit: a host that sees no two times differ can still
        // show the file's own unit.
        char number[32];
        snprintf(number, sizeof number, "%.17g", context->timeScale);
        Tcl_DStringAppend(answer, number, -1);
        break;
    }
    default: break;
    }
    return 0;
}

int Quorvel_FileInfo(Tcl_Interp* interp, ReaderContext* context, const char* query,
                     QueryResult* result)
{
    if (result == NULL) {
        return 1;
    }
    if (query == NULL || query[0] != '-' || query[1] == '\0' || context == NULL) {
        Tcl_DStringInit(&result->text);
        return 1;
    }
    result->answerKind = PF_ANSWER_KIND;
    Tcl_DStringInit(&result->text);
    const QueryOption* option = FindQueryOption(kFileInfoOptions, kFileInfoOptionCount, query);
    if (option == NULL) {
        return 0;
    }
    return AnswerFileOption(interp, context, query, option, &result->text);
}

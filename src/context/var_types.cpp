// var_types.cpp: the one translation of the reader's variable types: for each type the leaf
// kind of the signal tree, the host waveform kind and the y-axis unit.
#include "context/var_types.h"

#include <stdlib.h>

#include "base/portability.h"
#include "context/context.h"
#include "wfx.h"

namespace {

struct VarTypeKinds {
    unsigned char varType;
    short leafKind;
    int hostKind;
    const char* unit;
};

// Variable types of a file of type 1; 'I' and 'i' differ: only 'i' is an event.
const VarTypeKinds kVarTypes[] = {
    {0, LEAF_DIGITAL, WFX_KIND_LOGIC, "-"},    {'I', LEAF_ANALOG, WFX_KIND_DOUBLE, "A"},
    {'d', LEAF_EVENT, WFX_KIND_EVENT, "A"},    {'i', LEAF_EVENT, WFX_KIND_EVENT, "A"},
    {'p', LEAF_EVENT, WFX_KIND_EVENT, "Watt"}, {'v', LEAF_ANALOG, WFX_KIND_DOUBLE, "V"},
};
// Every other type of a file of type 1.
const VarTypeKinds kOtherVarType = {0, LEAF_ANALOG, WFX_KIND_DOUBLE, "-"};
// A file of type 0 holds logic signals only, whatever their variable type.
const VarTypeKinds kLogicFile = {0, LEAF_DIGITAL, WFX_KIND_LOGIC, "-"};

const VarTypeKinds* TranslateVarType(const ReaderContext* context, unsigned char varType)
{
    if (context->fileType == 0) {
        return &kLogicFile;
    }
    for (const VarTypeKinds& row : kVarTypes) {
        if (row.varType == varType) {
            return &row;
        }
    }
    return &kOtherVarType;
}

}  // namespace

short LeafKind(const ReaderContext* context, unsigned char varType)
{
    return TranslateVarType(context, varType)->leafKind;
}

void HostWaveKind(const ReaderContext* context, int* kind, char** yUnit, unsigned char varType)
{
    const VarTypeKinds* row = TranslateVarType(context, varType);
    *kind = row->hostKind;
    *yUnit = _strdup(row->unit);
}

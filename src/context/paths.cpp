// paths.cpp: resolving a signal path of the host to its tree node, idcode and bus, and an
// idcode to its variable record.
#include "context/paths.h"

#include <stdlib.h>

#include "base/portability.h"
#include "context/context.h"
#include "context/var_types.h"

ReaderTreeNode* LookUpPath(const ReaderContext* context, const char* path)
{
    if (path == NULL || context == NULL || context->tree == NULL) {
        return NULL;
    }
    if (path[0] == '/') {
        path++;
    }
    // The tree may modify the path it is given, so it gets a private copy.
    char* copy = _strdup(path);
    if (copy == NULL) {
        return NULL;
    }
    ReaderTreeNode* node = context->tree->GetNodeFromPath(context->tree->rootNode, copy);
    free(copy);
    return node;
}

int PathToIdcode(const char* path, const ReaderContext* context)
{
    ReaderTreeNode* node = LookUpPath(context, path);
    return node == NULL ? -1 : node->idcode;
}

int FindBusForVar(int idcode, ReaderContext* context, const char* path, ReaderTreeBus** bus)
{
    if (FetchVarInfo(context, idcode) == NULL) {
        return 0;
    }
    if (LeafKind(context, context->varInfo->varType) != LEAF_DIGITAL) {
        return 0;
    }
    ReaderTreeNode* node = LookUpPath(context, path);
    if (node == NULL) {
        return 0;
    }
    ReaderTreeBus* found = node->GetNodeBus();
    if (found == NULL) {
        return 0;
    }
    *bus = found;
    return 1;
}

ffrVarInfo* FetchVarInfo(ReaderContext* context, int idcode)
{
    context->varInfo = NULL;
    // A reader whose use was dropped by a later context's refresh must not be called.
    ffrObject* reader = LiveReader(context);
    if (reader != NULL) {
        reader->GetVarInfo(idcode, &context->varInfo);
    }
    return context->varInfo;
}

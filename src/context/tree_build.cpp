// tree_build.cpp: fills a context's signal tree from the reader library's walk of the file's
// hierarchy: scopes as inner nodes, variables as leaves with their idcode and leaf type.
#include "context/tree_build.h"

#include "context/context.h"
#include "context/var_types.h"

namespace {

// The reader names events 1 to 4; event 5 also returns the walk to the top.
const uint32_t kTreeTopAgain = FFR_TREE_TOP + 1;

// "/" separates hierarchy levels in tree paths, so no node name may hold one.
void ReplaceSlashes(char* name, char substitute)
{
    for (char* c = name; *c != '\0'; c++) {
        if (*c == '/') {
            *c = substitute;
        }
    }
}

}  // namespace

void AddScopeNode(ReaderContext* context, ffrScopeRecord* scope)
{
    if (scope == NULL || scope->name == NULL || context->tree == NULL) {
        return;
    }
    ReaderTree* tree = context->tree;
    ReplaceSlashes(scope->name, '_');
    ReaderTreeNode* node = tree->GetCurrentChildFromName(tree->currentNode, scope->name);
    if (node == NULL) {
        node = tree->CreateTreeNode(scope->name, LEAF_TYPE_SCOPE, -1);
        if (node == NULL) {
            return;
        }
        tree->InsertNode(node);
    }
    tree->SetCurrentNode(node);
}

void AddVarNode(ReaderContext* context, ffrVarRecord* var)
{
    if (var == NULL || var->name == NULL || context->tree == NULL) {
        return;
    }
    ReaderTree* tree = context->tree;
    ReplaceSlashes(var->name, '^');
    short kind = LeafKind(context, var->varType);
    short leafType =
        (kind == LEAF_DIGITAL && context->showBus != 0) ? (short)LEAF_TYPE_BUS_MEMBER : kind;
    ReaderTreeNode* node = tree->CreateTreeNode(var->name, leafType, var->idcode);
    if (node == NULL) {
        return;
    }
    tree->InsertNode(node);
    tree->SetLeaveTypes(kind);
    context->waveCount++;
}

bool TreeCallback(uint32_t eventType, void* clientData, void* record)
{
    ReaderContext* context = (ReaderContext*)clientData;
    if ((eventType >= 6 && eventType <= 19) || eventType >= 24) {
        return false;
    }
    if (context == NULL || context->tree == NULL) {
        return true;
    }
    ReaderTree* tree = context->tree;
    switch (eventType) {
    case FFR_TREE_SCOPE_BEGIN: AddScopeNode(context, (ffrScopeRecord*)record); break;
    case FFR_TREE_VAR: AddVarNode(context, (ffrVarRecord*)record); break;
    case FFR_TREE_SCOPE_END:
        if (tree->currentNode != NULL && tree->currentNode->parent != NULL) {
            tree->SetCurrentNode(tree->currentNode->parent);
        }
        break;
    case FFR_TREE_TOP:
    case kTreeTopAgain: tree->SetCurrentNode(tree->rootNode); break;
    default: break;
    }
    return true;
}

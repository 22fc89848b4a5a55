// reader_tree.h: the host's signal-tree library: scopes and leaves of an open file, buses
// grouped from bit-indexed leaves, paths and searches answered into Tcl dynamic strings.
#ifndef READER_TREE_H
#define READER_TREE_H

#include <tcl.h>

#include "host_api.h"

// Members of a bus node, highest index first.
class HOST_API ReaderTreeBus {
public:
    unsigned int GetBusWidth();
    void GetBusIds(int* ids);  // writes GetBusWidth() idcodes

private:
    friend class ReaderTree;
    friend struct ReaderTreeAccess;
    ReaderTreeBus() = default;
    struct ReaderTreeBusImpl* impl_ = nullptr;
};

class HOST_API ReaderTreeNode {
public:
    int idcode;                   // -1 for scopes
    ReaderTreeNode* parent;       // null for the root
    ReaderTreeBus* GetNodeBus();  // null unless the node is a bus

private:
    friend class ReaderTree;
    friend struct ReaderTreeAccess;
    ReaderTreeNode() = default;
    struct ReaderTreeNodeImpl* impl_ = nullptr;
};

class HOST_API ReaderTree {
public:
    ReaderTree();
    virtual ~ReaderTree();
    ReaderTree(const ReaderTree&) = delete;  // owns its nodes
    ReaderTree& operator=(const ReaderTree&) = delete;

    ReaderTreeNode* rootNode;
    ReaderTreeNode* currentNode;
    short leafTypes[4];  // kinds in the order first seen; an unused slot holds -1

    // Scopes: leaf type -1, idcode -1. Leaves: 0 analog, 1 event, 2 digital, -2 digital that
    // may group into a bus. Returns null for a null name or on allocation failure.
    ReaderTreeNode* CreateTreeNode(const char* name, short leafType, int idcode);
    void InsertNode(ReaderTreeNode* node);  // below the current node
    void SetCurrentNode(ReaderTreeNode* node);
    ReaderTreeNode* GetCurrentChildFromName(ReaderTreeNode* node, const char* name);
    void SetLeaveTypes(short leafKind);
    // Names separated by "/"; a null start node means the root.
    ReaderTreeNode* GetNodeFromPath(ReaderTreeNode* start, char* path);
    // Appends the children's names as list elements.
    void GetAllChildNodeNames(ReaderTreeNode* node, Tcl_DString* result);
    // Append the full paths of the leaves below start (-1: all leaf types) as list elements,
    // the second each followed by its idcode. 0 on success.
    int GetTreeLeaveFullPaths(ReaderTreeNode* start, Tcl_DString* scratch, short leafType,
                              Tcl_DString* result);
    int GetTreeLeaveFullPathsNIds(ReaderTreeNode* start, Tcl_DString* scratch, short leafType,
                                  Tcl_DString* result);
    // "analog" 0, "event" 1, "digital" 2, "bus" 3; -1 for any other text.
    short GetLeafTypeFromString(const char* text);
    // Reads option/value pairs (-pattern GLOB, -withtype TYPE) and replaces result, which holds
    // the query on entry, with the matching full leaf paths. 0 on success.
    int SearchTree(Tcl_Interp* interp, int argc, const char** argv, Tcl_DString* result);

private:
    friend struct ReaderTreeAccess;
    struct ReaderTreeImpl* impl_;
};

#endif

// paths.h: resolving a signal path of the host to its tree node, idcode and bus, and an idcode
// to its variable record; shared by the queries and the loaders.
#ifndef QUORVEL_PATHS_H
#define QUORVEL_PATHS_H

#include "nffr.h"
#include "reader_tree.h"

struct ReaderContext;

// The tree node at path (one leading "/" skipped), or null.
ReaderTreeNode* LookUpPath(const ReaderContext* context, const char* path);
// The leaf's idcode; -1 for a scope, a missing node or a null path.
int PathToIdcode(const char* path, const ReaderContext* context);
// 1 and *bus set when the signal is digital and its node carries a bus; 0 otherwise.
int FindBusForVar(int idcode, ReaderContext* context, const char* path, ReaderTreeBus** bus);
// Replaces context->varInfo by the variable record of idcode, read through the live reader;
// the record, or null (then varInfo is null too) when there is none or no live reader.
ffrVarInfo* FetchVarInfo(ReaderContext* context, int idcode);

#endif

// tree_build.h: the tree callback that fills a context's signal tree while the file is walked.
#ifndef QUORVEL_TREE_BUILD_H
#define QUORVEL_TREE_BUILD_H

#include <stdint.h>

#include "nffr.h"

struct ReaderContext;

bool TreeCallback(uint32_t eventType, void* clientData, void* record);
void AddScopeNode(ReaderContext* context, ffrScopeRecord* scope);
void AddVarNode(ReaderContext* context, ffrVarRecord* var);

#endif

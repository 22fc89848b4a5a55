// kinds.h: the rendering of signal values as reals or logic texts; the classification of
// signals (context/var_types.h) comes with it.
#ifndef QUORVEL_KINDS_H
#define QUORVEL_KINDS_H

#include "context/var_types.h"
#include "nffr.h"

struct ReaderContext;

double ReadRealSample(ffrVCTraverser* traverser, const unsigned char* value);
// Stores a new heap text of the characters 0 1 X Z U, or null when it cannot be allocated.
void LogicValueText(const ReaderContext* context, const unsigned char* value,
                    ffrVCTraverser* traverser, char** text);

#endif

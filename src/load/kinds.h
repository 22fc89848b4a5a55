// kinds.h: classification of signals (leaf kinds, host waveform kinds and units) and the
// rendering of their values as reals or logic texts.
#ifndef QUORVEL_KINDS_H
#define QUORVEL_KINDS_H

#include "nffr.h"

struct ReaderContext;

enum { LEAF_ANALOG = 0, LEAF_EVENT = 1, LEAF_DIGITAL = 2 };

short LeafKind(const ReaderContext* context, unsigned char varType);
// Always writes both outputs; *yUnit is a new heap text (null if it cannot be allocated).
void HostWaveKind(const ReaderContext* context, int* kind, char** yUnit, unsigned char varType);
double ReadRealSample(ffrVCTraverser* traverser, const unsigned char* value);
// Stores a new heap text of the characters 0 1 X Z U, or null when it cannot be allocated.
void LogicValueText(const ReaderContext* context, const unsigned char* value,
                    ffrVCTraverser* traverser, char** text);

#endif

// var_types.h: the reader's variable types translated into the plug-in's leaf kinds, the host's
// waveform kinds and the y-axis units, all from one table.
#ifndef QUORVEL_VAR_TYPES_H
#define QUORVEL_VAR_TYPES_H

struct ReaderContext;

enum { LEAF_ANALOG = 0, LEAF_EVENT = 1, LEAF_DIGITAL = 2 };
// Leaf types of tree nodes beside the kinds: a scope, and a digital leaf that the tree may
// group into a bus (the host's show-bus setting is on). Scopes carry the idcode -1 too.
enum { LEAF_TYPE_SCOPE = -1, LEAF_TYPE_BUS_MEMBER = -2 };

short LeafKind(const ReaderContext* context, unsigned char varType);
// Always writes both outputs; *yUnit is a new heap text (null if it cannot be allocated).
void HostWaveKind(const ReaderContext* context, int* kind, char** yUnit, unsigned char varType);

#endif

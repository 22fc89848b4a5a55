// quorvel.h: the plug-in's entry point and its info handler.
#ifndef QUORVEL_QUORVEL_H
#define QUORVEL_QUORVEL_H

#include <tcl.h>

#include "pf_format.h"

#if defined(_WIN32)
#define QUORVEL_EXPORT __declspec(dllexport)
#else
#define QUORVEL_EXPORT __attribute__((visibility("default")))
#endif

// Registers the "FSDB" format once per process; always 0.
extern "C" QUORVEL_EXPORT int Quorvel_Init(Tcl_Interp* interp);

// Info handler. Results: 0 for "-author" (any option starting "-a"), the answer "Quorvel" in
// result's dynamic string (initialised here) and its answer kind set; 1 for any other option.
// Side effects: none; a refused option leaves result untouched. The host owns result and the
// answer text in it.
int Quorvel_Info(void* unused, const char* option, QueryResult* result);

#endif

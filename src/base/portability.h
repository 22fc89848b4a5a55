// portability.h: the few runtime names the plug-in uses that differ between Windows and Linux.
#ifndef QUORVEL_PORTABILITY_H
#define QUORVEL_PORTABILITY_H

#include <string.h>

#if !defined(_WIN32)
#define _strdup strdup
#endif

#endif

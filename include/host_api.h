// host_api.h: the export macro of the host's libraries (format registry, waveforms, signal tree).
#ifndef HOST_API_H
#define HOST_API_H

#if defined(_WIN32)
#if defined(HOST_BUILDING)
#define HOST_API __declspec(dllexport)
#else
#define HOST_API __declspec(dllimport)
#endif
#else
#define HOST_API __attribute__((visibility("default")))
#endif

#endif

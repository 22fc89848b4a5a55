// sinks.h: the reader library's message sinks, installed when a file is opened.
#ifndef QUORVEL_SINKS_H
#define QUORVEL_SINKS_H

// Write "\"WARN:\" %s", "\"ERROR:\" %s" and "\"INFO:\" %s" on standard error; always 0.
int WarnSink(const char* text);
int ErrorSink(const char* text);
int InfoSink(const char* text);

#endif

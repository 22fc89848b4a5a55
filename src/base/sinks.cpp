// sinks.cpp: the reader library's message sinks, which copy its warnings, errors and notes to
// standard error exactly as received (the texts carry their own newlines).
#include "base/sinks.h"

#include <stdio.h>

static const char* TextOrEmpty(const char* text)
{
    return text != NULL ? text : "";
}

int WarnSink(const char* text)
{
    fprintf(stderr, "\"WARN:\" %s", TextOrEmpty(text));
    return 0;
}

int ErrorSink(const char* text)
{
    fprintf(stderr, "\"ERROR:\" %s", TextOrEmpty(text));
    return 0;
}

int InfoSink(const char* text)
{
    fprintf(stderr, "\"INFO:\" %s", TextOrEmpty(text));
    return 0;
}

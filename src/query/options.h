// options.h: the option tables of the two query handlers and their lookup. An option is chosen
// by the query's second character and then by a case-sensitive compare of a fixed number of
// leading characters; options that share a second character are tried in table order.
#ifndef QUORVEL_OPTIONS_H
#define QUORVEL_OPTIONS_H

#include <stddef.h>

struct QueryOption {
    const char* name;   // the option's full name
    char second;        // the character the option is chosen by: name[1]
    unsigned compared;  // leading characters of the query compared with name
    int answer;         // what the handler answers, one of its own codes
    const char* text;   // the answer of an option with a fixed text, else null
};

// The first row of table that query (at least two characters) selects, or null.
const QueryOption* FindQueryOption(const QueryOption* table, size_t count, const char* query);

extern const QueryOption kFileInfoOptions[];
extern const size_t kFileInfoOptionCount;
extern const QueryOption kWaveInfoOptions[];
extern const size_t kWaveInfoOptionCount;

#endif

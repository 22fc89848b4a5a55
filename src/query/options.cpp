// options.cpp: the lookup of a query handler's option in its table.
#include "query/options.h"

#include <string.h>

const QueryOption* FindQueryOption(const QueryOption* table, size_t count, const char* query)
{
    for (size_t i = 0; i < count; i++) {
        const QueryOption* row = &table[i];
        if (row->second == query[1] && strncmp(query, row->name, row->compared) == 0) {
            return row;
        }
    }
    return NULL;
}

// info.cpp: the format's info handler, which answers the one info option "-author".
#include <string.h>

#include "plugin/quorvel.h"

int Quorvel_Info(void* unused, const char* option, QueryResult* result)
{
    (void)unused;
    // Chosen by the first two characters: every "-a..." is "-author".
    if (option == NULL || result == NULL || strncmp(option, "-author", 2) != 0) {
        return 1;
    }
    result->answerKind = PF_ANSWER_KIND;
    Tcl_DStringInit(&result->text);
    Tcl_DStringAppend(&result->text, "Quorvel", -1);
    return 0;
}

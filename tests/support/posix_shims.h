// posix_shims.h: the POSIX calls the tests use that the Windows runtime lacks (mkdtemp),
// so that the same test sources build for 32-bit Windows.
#ifndef QUORVEL_TEST_POSIX_SHIMS_H
#define QUORVEL_TEST_POSIX_SHIMS_H

#if defined(_WIN32)
#include <direct.h>
#include <errno.h>
#include <process.h>
#include <stdio.h>
#include <string.h>

// Replaces the trailing "XXXXXX" of PATTERN with a number until a new folder is made there;
// PATTERN on success, null on failure (as POSIX mkdtemp).
inline char* mkdtemp(char* pattern)
{
    size_t length = strlen(pattern);
    if (length < 6 || strcmp(pattern + length - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        unsigned number = (static_cast<unsigned>(_getpid()) * 1000u + counter++) % 1000000u;
        snprintf(pattern + length - 6, 7, "%06u", number);
        if (_mkdir(pattern) == 0) {
            return pattern;
        }
        if (errno != EEXIST) {
            return nullptr;
        }
    }
    return nullptr;
}
#endif

#endif

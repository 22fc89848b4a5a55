// registry.cpp: the format registry: handler tables of format plug-ins, kept for the life of
// the process and looked up by format name.
#include <cstring>
#include <new>

#include "host_core.h"

namespace {

// Never destroyed: tables stay valid for handlers running while the process exits.
std::vector<const FormatHandlers*>& Formats()
{
    static auto* formats = new std::vector<const FormatHandlers*>();
    return *formats;
}

bool IsComplete(const FormatHandlers* table)
{
    return table->formatName != nullptr && table->filePattern != nullptr &&
           table->info != nullptr && table->open != nullptr && table->close != nullptr &&
           table->fileInfo != nullptr && table->waveInfo != nullptr && table->loadWave != nullptr &&
           table->loadWaves != nullptr;
}

}  // namespace

extern "C" HOST_API int PfFormat_CreateExternalFormat(Tcl_Interp* /*interp*/, FormatHandlers* table)
{
    if (table == nullptr || !IsComplete(table)) {
        return 1;
    }
    try {
        if (vexahost::FindFormat(table->formatName) != nullptr) {
            return 1;
        }
        Formats().push_back(table);
    } catch (...) {
        return 1;
    }
    return 0;
}

namespace vexahost {

std::vector<const FormatHandlers*> RegisteredFormats()
{
    return Formats();
}

const FormatHandlers* FindFormat(const std::string& name)
{
    for (const FormatHandlers* table : Formats()) {
        if (name == table->formatName) {
            return table;
        }
    }
    return nullptr;
}

}  // namespace vexahost

// file_state.cpp: vexa::filestate, what tells one version of a file from another, from the
// system's own calls (stat; on Windows the file's handle information).
#include <cerrno>
#include <cstdint>

#include "vexa_package.h"

#ifdef _WIN32
// GetFileInformationByHandleEx, for the change time, came with Vista.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace vexa {
namespace {

// What tells one version of a file from another: "file stat" gives whole seconds only, so a
// file rewritten within a second at the same size would pass for the old one.
struct FileState {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
};

#ifdef _WIN32
// Windows counts 100 ns ticks from 1601; the dict gives nanoseconds from 1970, as stat does.
int64_t Nanoseconds(const LARGE_INTEGER& ticks)
{
    const int64_t kTicksTo1970 = 116444736000000000LL;
    return (ticks.QuadPart - kTicksTo1970) * 100;
}

// False with *why set when the file cannot be asked.
bool StateOfFile(Tcl_Obj* path, FileState* state, std::string* why)
{
    *why = "no such file, or it cannot be read";
    const void* native = Tcl_FSGetNativePath(path);
    if (native == nullptr) {
        return false;
    }
    HANDLE file = CreateFileW(static_cast<const WCHAR*>(native), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO times;
    bool ok = GetFileInformationByHandle(file, &info) != 0 &&
              GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times) != 0;
    CloseHandle(file);
    if (ok) {
        state->size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        state->mtimeNs = Nanoseconds(times.LastWriteTime);
        state->ctimeNs = Nanoseconds(times.ChangeTime);
        state->device = info.dwVolumeSerialNumber;
        state->inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    return ok;
}
#else
// False with *why set when the file cannot be asked.
bool StateOfFile(Tcl_Obj* path, FileState* state, std::string* why)
{
    const void* native = Tcl_FSGetNativePath(path);
    struct stat st;
    if (native == nullptr || stat(static_cast<const char*>(native), &st) != 0) {
        *why = native == nullptr ? "bad path" : Tcl_ErrnoMsg(errno);
        return false;
    }
    state->size = static_cast<uint64_t>(st.st_size);
    state->mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    state->ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    state->device = static_cast<uint64_t>(st.st_dev);
    state->inode = static_cast<uint64_t>(st.st_ino);
    return true;
}
#endif

// vexa::filestate PATH -> {size BYTES mtime NS ctime NS device N inode N}
int FileStateCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "PATH");
        return TCL_ERROR;
    }
    FileState state;
    std::string why;
    if (!StateOfFile(objv[1], &state, &why)) {
        return PlainError(interp,
                          std::string("couldn't stat \"") + Tcl_GetString(objv[1]) + "\": " + why);
    }
    const std::string fields[10] = {
        "size",  std::to_string(state.size),    "mtime",  std::to_string(state.mtimeNs),
        "ctime", std::to_string(state.ctimeNs), "device", std::to_string(state.device),
        "inode", std::to_string(state.inode)};
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const std::string& field : fields) {
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(field.c_str(), -1));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

}  // namespace

void RegisterFileStateCommand(Tcl_Interp* interp)
{
    Tcl_CreateObjCommand(interp, "::vexa::filestate", Guarded<FileStateCmd>, nullptr, nullptr);
}

}  // namespace vexa

// host_interp.cpp: the interpreter standing in for the host's in the tests.
#include "host_interp.h"

#include <gtest/gtest.h>

namespace quorveltest {

HostInterp::HostInterp()
{
    Tcl_FindExecutable(nullptr);
    interp_ = Tcl_CreateInterp();
    Eval(
        "set ::openHandles {}; set ::asked {}; set ::lastMessage {}\n"
        "proc pf:info {what path} {\n"
        "  lappend ::asked $path\n"
        "  set found {}\n"
        "  dict for {h p} $::openHandles { if {$p eq $path} { lappend found $h } }\n"
        "  return $found\n"
        "}\n"
        "proc VexaMessage {text type title} { set ::lastMessage [list $text $type $title] }");
}

HostInterp::~HostInterp()
{
    Tcl_DeleteInterp(interp_);
}

std::string HostInterp::Eval(const std::string& script)
{
    int code = Tcl_Eval(interp_, script.c_str());
    EXPECT_EQ(code, TCL_OK) << script << ": " << Tcl_GetStringResult(interp_);
    return Tcl_GetStringResult(interp_);
}

std::string HostInterp::Result() const
{
    return Tcl_GetStringResult(interp_);
}

void HostInterp::ListOpen(const std::string& handle, const std::string& path)
{
    Tcl_Obj* key = Tcl_NewStringObj(handle.c_str(), -1);
    Tcl_Obj* value = Tcl_NewStringObj(path.c_str(), -1);
    Tcl_Obj* handles = Tcl_GetVar2Ex(interp_, "openHandles", nullptr, TCL_GLOBAL_ONLY);
    handles = Tcl_DuplicateObj(handles);
    Tcl_DictObjPut(interp_, handles, key, value);
    Tcl_SetVar2Ex(interp_, "openHandles", nullptr, handles, TCL_GLOBAL_ONLY);
}

void HostInterp::Unlist(const std::string& handle)
{
    Tcl_Obj* key = Tcl_NewStringObj(handle.c_str(), -1);
    Tcl_Obj* handles = Tcl_GetVar2Ex(interp_, "openHandles", nullptr, TCL_GLOBAL_ONLY);
    handles = Tcl_DuplicateObj(handles);
    Tcl_DictObjRemove(interp_, handles, key);
    Tcl_SetVar2Ex(interp_, "openHandles", nullptr, handles, TCL_GLOBAL_ONLY);
    Tcl_DecrRefCount(key);
}

}  // namespace quorveltest

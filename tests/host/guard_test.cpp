// guard_test.cpp: no C++ exception leaves a command of the vexa package: one that escapes a
// command procedure fails that command with a message, and the interpreter goes on.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "tcl/vexa_package.h"

namespace {

int ThrowsRuntimeError(ClientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    throw std::runtime_error("no such thing");
}

int ThrowsBadAlloc(ClientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    throw std::bad_alloc();
}

int ThrowsInt(ClientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    throw 7;
}

int Answers(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj("fine", -1));
    return TCL_OK;
}

TEST(GuardedCommand, EscapingExceptionsBecomeTclErrors)
{
    Tcl_Interp* interp = Tcl_CreateInterp();
    Tcl_CreateObjCommand(interp, "lookup", vexa::Guarded<ThrowsRuntimeError>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "grow", vexa::Guarded<ThrowsBadAlloc>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "odd", vexa::Guarded<ThrowsInt>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "plain", vexa::Guarded<Answers>, nullptr, nullptr);
    EXPECT_EQ(Tcl_Eval(interp, "lookup x"), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "lookup failed: no such thing");
    EXPECT_EQ(Tcl_Eval(interp, "grow"), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "grow failed: out of memory");
    EXPECT_EQ(Tcl_Eval(interp, "odd"), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "odd failed: unknown exception");
    EXPECT_EQ(Tcl_Eval(interp, "plain"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(interp), "fine");
    Tcl_DeleteInterp(interp);
}

}  // namespace

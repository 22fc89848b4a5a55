// host_interp.h: a plain Tcl interpreter standing in for the host's: its "pf:info open PATH"
// answers the handles listed as open for PATH (and records the paths asked about in ::asked),
// and its "VexaMessage" records its last message in ::lastMessage.
#ifndef QUORVEL_TEST_HOST_INTERP_H
#define QUORVEL_TEST_HOST_INTERP_H

#include <tcl.h>

#include <string>

namespace quorveltest {

class HostInterp {
public:
    HostInterp();
    ~HostInterp();
    HostInterp(const HostInterp&) = delete;
    HostInterp& operator=(const HostInterp&) = delete;

    Tcl_Interp* get() const { return interp_; }
    // Evaluates script, which must succeed; the interpreter's result.
    std::string Eval(const std::string& script);
    std::string Result() const;
    // The host holds path open under handle, or no longer.
    void ListOpen(const std::string& handle, const std::string& path);
    void Unlist(const std::string& handle);

private:
    Tcl_Interp* interp_;
};

}  // namespace quorveltest

#endif

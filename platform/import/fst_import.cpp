// fst_import.cpp: the FST front-end of the import: the FST library's reader walks the hierarchy
// and then the value changes block by block, and hands them to the shared back-end.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "fstapi.h"
#include "import.h"
#include "import_backend.h"

namespace fsdbgen {
namespace {

constexpr uint32_t kMaxWidth = 100000000;  // as for a VCD's $var

// The FST library ends the process on a damaged block (and may crash on one): the files being
// written are removed then, as a failed import removes them.
Backend* writing = nullptr;
char unfinished[2][4096];  // their temporary names, for a signal handler to remove

void RemoveUnfinished()
{
    if (writing)
        writing->Abandon();
}

#if !defined(_WIN32)
extern "C" void RemoveUnfinishedAndDie(int sig)
{
    for (const char* path : unfinished)
        if (path[0])
            unlink(path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}
#endif

void RemoveOnCrash(const std::string& output)
{
    const std::string names[2] = {WritingName(output), WritingName(AnalogCompanionName(output))};
    for (int i = 0; i < 2; ++i)
        std::snprintf(unfinished[i], sizeof unfinished[i], "%s",
                      names[i].size() < sizeof unfinished[i] ? names[i].c_str() : "");
#if !defined(_WIN32)
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE})
        std::signal(sig, RemoveUnfinishedAndDie);
#endif
}

class FstImporter {
public:
    FstImporter(void* reader, Diagnostics* d, const std::string& output, int layout)
        : fst_(reader), out_(d, output, layout)
    {
        out_.WithoutLines();
    }

    bool Run()
    {
        if (!Header() || !Hierarchy())
            return false;
        static const bool registered = std::atexit(RemoveUnfinished) == 0;
        (void)registered;
        writing = &out_;
        fstReaderSetFacProcessMaskAll(fst_);
        // Reals arrive as the 8 bytes of the double, exact (as text they would be rounded).
        fstReaderIterBlocksSetNativeDoublesOnCallback(fst_, 1);
        const bool read = fstReaderIterBlocks2(fst_, &FstImporter::OnChange,
                                               &FstImporter::OnVariableLength, this, nullptr);
        writing = nullptr;
        if (!read && ok_)
            return out_.Fail("cannot read the value changes");
        if (!ok_)
            return false;
        // The dump ends at its end time (a VCD's last #time), which may follow its last change.
        const uint64_t end = fstReaderGetEndTime(fst_) + zero_;
        if (end > out_.Time() && !out_.Step(end))
            return false;
        return out_.Finish("values at the dump's first time, its initial state");
    }

    bool Conclude(bool read, const std::string& input, std::vector<std::string>* written)
    {
        return out_.Conclude(read, input, written);
    }

private:
    // The tick, 10^exponent s, as a whole number of a unit; time zero, the time of tick 0.
    bool Header()
    {
        const int exponent = fstReaderGetTimescale(fst_);
        if (exponent < -15 || exponent > 2)
            return out_.Fail("time scale 1e" + std::to_string(exponent) +
                             " s out of the range from 1 fs to 100 s");
        static const char* units[] = {"fs", "ps", "ns", "us", "ms", "s"};
        static const char* numbers[] = {"1", "10", "100"};
        out_.SetUnit(std::string(numbers[(exponent + 15) % 3]) + units[(exponent + 15) / 3]);
        std::string stamp;
        const char* date = fstReaderGetDateString(fst_);
        for (const char* p = date ? date : ""; *p; ++p)
            if (!std::isspace(static_cast<unsigned char>(*p)))
                stamp += *p;
            else if (!stamp.empty() && stamp.back() != ' ')
                stamp += ' ';
        if (!stamp.empty() && stamp.back() == ' ')
            stamp.pop_back();
        out_.SetStamp(stamp);
        return TimeZero();
    }

    // Times are stored from time zero on; a time zero that would put the dump's start before
    // 0 (which no stored time can hold) is left out with a warning.
    bool TimeZero()
    {
        const int64_t zero = fstReaderGetTimezero(fst_);
        const uint64_t start = fstReaderGetStartTime(fst_);
        const uint64_t end = fstReaderGetEndTime(fst_);
        if (zero >= 0 ? end > UINT64_MAX - static_cast<uint64_t>(zero)
                      : start < 0 - static_cast<uint64_t>(zero)) {
            out_.Warn("time zero " + std::to_string(zero) +
                      " left out: it would put times before 0 or past the largest time; times "
                      "are the dump's own ticks");
            return true;
        }
        zero_ = static_cast<uint64_t>(zero);  // added modulo 2^64: a negative zero subtracts
        return true;
    }

    static Kind KindOf(unsigned char type)
    {
        switch (type) {
        case FST_VT_VCD_EVENT: return Kind::Event;
        case FST_VT_VCD_REAL:
        case FST_VT_VCD_REAL_PARAMETER:
        case FST_VT_VCD_REALTIME:
        case FST_VT_SV_SHORTREAL: return Kind::Real;
        case FST_VT_GEN_STRING: return Kind::Skipped;
        default: return Kind::Logic;
        }
    }

    bool Hierarchy()
    {
        const fstHandle most = fstReaderGetMaxHandle(fst_);
        byHandle_.assign(static_cast<size_t>(most) + 1, -1);
        uint64_t vars = 0;
        while (const fstHier* h = fstReaderIterateHier(fst_)) {
            vars += h->htyp == FST_HT_VAR;
            if (h->htyp == FST_HT_SCOPE && !out_.BeginScope(h->u.scope.name))
                return false;
            if (h->htyp == FST_HT_UPSCOPE && !out_.EndScope())
                return false;
            if (h->htyp == FST_HT_VAR && !Var(*h))
                return false;
        }
        // The hierarchy is written last: a file cut short has lost it.
        const uint64_t declared = fstReaderGetVarCount(fst_);
        if (vars != declared)
            return out_.Fail("the file declares " + std::to_string(declared) +
                             " variables but its hierarchy holds " + std::to_string(vars) +
                             ": it is damaged or cut short");
        if (out_.OpenScopes() > 0)
            return out_.Fail("the hierarchy ends inside " + std::to_string(out_.OpenScopes()) +
                             " open scopes");
        if (out_.Signals() == 0)
            out_.Warn("no variables declared");
        return true;
    }

    bool Var(const fstHier& h)
    {
        const auto& var = h.u.var;
        if (var.handle == 0 || var.handle >= byHandle_.size())
            return out_.Fail("variable " + Quote(var.name) + " with a bad handle");
        // A range is written after a blank ("q [3:0]"); a VCD's reference words are joined
        // without one, and so are these.
        std::string name;
        for (const char* p = var.name; *p; ++p)
            if (!std::isspace(static_cast<unsigned char>(*p)))
                name += *p;
        const Kind kind = KindOf(var.typ);
        const uint32_t width = kind == Kind::Logic ? var.length : 64;
        if (kind == Kind::Logic && width > kMaxWidth)
            return out_.Fail("variable " + Quote(name) + " of " + std::to_string(width) +
                             " bits, more than " + std::to_string(kMaxWidth));
        int& index = byHandle_[var.handle];
        if (index >= 0)
            return out_.Alias(index, kind, width, name);
        index = out_.Declare(kind, width, name, "string");
        return true;
    }

    static void OnChange(void* self, uint64_t time, fstHandle handle, const unsigned char* value)
    {
        static_cast<FstImporter*>(self)->Change(time, handle, value, 0);
    }

    static void OnVariableLength(void* self, uint64_t time, fstHandle handle,
                                 const unsigned char* value, uint32_t size)
    {
        static_cast<FstImporter*>(self)->Change(time, handle, value, size);
    }

    // size: 0 for a value of the variable's own size (text of its bits, or a double's bytes).
    void Change(uint64_t time, fstHandle handle, const unsigned char* value, uint32_t size)
    {
        if (!ok_ || handle >= byHandle_.size() || byHandle_[handle] < 0)
            return;
        const uint64_t at = time + zero_;
        if (!out_.Started() || at != out_.Time()) {
            if (out_.Started() && at < out_.Time()) {
                ok_ = out_.Fail("time " + std::to_string(time) + " before the previous time");
                return;
            }
            // The first time's values are the initial state, as a VCD's $dumpvars.
            out_.SetRestating(!out_.Started());
            if (!(ok_ = out_.Step(at)))
                return;
        }
        Signal& s = out_.At(byHandle_[handle]);
        if (s.kind == Kind::Skipped || size != 0)
            return;
        const char* text = reinterpret_cast<const char*>(value);
        if (s.kind == Kind::Real) {
            double v;
            std::memcpy(&v, value, sizeof v);
            ok_ = out_.StoreReal(s, v);
            return;
        }
        const size_t n = s.kind == Kind::Event ? std::strlen(text) : s.width;
        ok_ = out_.StoreLogic(s, text, n, text, n);
    }

    void* fst_;
    Backend out_;
    std::vector<int> byHandle_;  // FST handle to signal number, -1 before its declaration
    uint64_t zero_ = 0;
    bool ok_ = true;
};

}  // namespace

bool FstSupported()
{
    return true;
}

bool ConvertFst(const std::string& input, const std::string& output, Diagnostics* diag,
                std::vector<std::string>* written, int layout)
{
    if (!CheckOutputs(input, output, diag))
        return false;
    std::FILE* probe = std::fopen(input.c_str(), "rb");
    if (!probe) {
        diag->error = "cannot read \"" + input + "\": " + std::strerror(errno);
        return false;
    }
    std::fclose(probe);
    if (!LooksLikeFst(input)) {
        diag->error = input + ": not an FST file";
        return false;
    }
    void* reader = fstReaderOpen(input.c_str());
    if (!reader) {
        diag->error = input + ": not a readable FST file";
        return false;
    }
    if (layout != 1)
        RemoveOnCrash(output);
    FstImporter importer(reader, diag, output, layout);
    const bool read = importer.Run();
    fstReaderClose(reader);
    return importer.Conclude(read, input, written);
}

}  // namespace fsdbgen

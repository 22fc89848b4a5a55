// import_backend.cpp: the shared half of the dump imports: signals and their changes, the two
// output files, the messages, and writing the files.
#include "import_backend.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "nffr_memory.h"

namespace fsdbgen {
namespace {

constexpr size_t kMaxDepth = 10000;  // real designs have a few dozen levels of scopes
constexpr uint8_t kNoBit = 0xFF;
constexpr uint8_t kMapped = 0x10;  // a nine-value letter stored as its nearest of 0 1 X
constexpr size_t kAhead = 8;       // changes between a prefetch and its use: a miss's latency
// A batch is handed to the sender once it holds this many changes or value bytes: the threads
// meet rarely, and the two batches of each file take a few MiB.
constexpr size_t kBatchChanges = 1 << 16, kBatchBytes = 1 << 20;

// Byte stored for each value character: 0 1 X Z as 0 1 2 3, U as 4 (the plug-in's U); L H W -
// as 0 1 X X, flagged kMapped so that the import can say how often it mapped them.
struct BitTable {
    uint8_t code[256];
    BitTable()
    {
        std::memset(code, kNoBit, sizeof code);
        const char* letters[] = {"0", "1", "xX", "zZ", "uU"};
        for (uint8_t b = 0; b < 5; ++b)
            for (const char* c = letters[b]; *c; ++c)
                code[static_cast<unsigned char>(*c)] = b;
        const char* mapped[] = {"lL", "hH", "wW-"};
        for (uint8_t b = 0; b < 3; ++b)
            for (const char* c = mapped[b]; *c; ++c)
                code[static_cast<unsigned char>(*c)] = kMapped | b;
    }
};
const BitTable kBits;

class Blocks : public nffr::BlockSource {
public:
    Blocks(const OutFile& file, const std::deque<SignalRest>& rest) : file_(file), rest_(rest) {}
    uint32_t Count(int idcode) const override { return file_.byIdcode[idcode]->count; }
    void Write(int idcode, nffr::BlockOut* out) const override
    {
        const SignalRest& s = rest_[file_.byIdcode[idcode]->index];
        s.tags.ForEach([&](const uint8_t* data, size_t size) {
            out->Tags(reinterpret_cast<const uint64_t*>(data), size / 8);
        });
        s.values.ForEach([&](const uint8_t* data, size_t size) { out->Values(data, size); });
    }

private:
    const OutFile& file_;
    const std::deque<SignalRest>& rest_;
};

std::string Plural(uint32_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A companion left by an earlier import of a dump that had reals or events: it would be taken
// for this import's analog part.
bool RemoveStaleCompanion(const std::string& companion, std::vector<std::string>* written)
{
    std::ifstream in(companion, std::ios::binary);
    char magic[8] = {};
    if (!in.read(magic, sizeof magic) || std::memcmp(magic, "QRVLWAV\x1a", 8) != 0)
        return true;
    in.close();
    if (std::remove(companion.c_str()) != 0)
        return false;
    written->push_back("removed " + companion + ", left by an earlier import");
    return true;
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

bool gSenderThread = true;

std::string WritingName(const std::string& path)
{
    return path + ".writing";
}

bool CheckOutputs(const std::string& input, const std::string& output, Diagnostics* diag)
{
    if (SameFile(input, output) || SameFile(input, AnalogCompanionName(output))) {
        diag->error = "the output would replace the input";
        return false;
    }
    return true;
}

// An FST file begins with its header block: type 0 and the block's length, 329, as 8 bytes
// big-endian; one compressed as a whole (which the library unpacks) with the type 254.
bool LooksLikeFst(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char head[9] = {};
    if (!in.read(reinterpret_cast<char*>(head), sizeof head))
        return false;
    static const unsigned char header[9] = {0, 0, 0, 0, 0, 0, 0, 0x01, 0x49};
    return std::memcmp(head, header, sizeof head) == 0 || head[0] == 254;
}

bool IsBitChar(char c)
{
    return kBits.code[static_cast<unsigned char>(c)] != kNoBit;
}

std::string Printable(const char* text, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && i < 40; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out + (size > 40 ? "..." : "");
}

std::string Quote(const char* text, size_t size)
{
    return "\"" + Printable(text, size) + "\"";
}

std::string Quote(const std::string& text)
{
    return Quote(text.data(), text.size());
}

Backend::Backend(Diagnostics* d, const std::string& output, int layout) : d_(d), output_(output)
{
    if (layout != 1) {
        const std::string paths[2] = {output, AnalogCompanionName(output)};
        for (int part : {kDigital, kAnalog}) {
            files_[part].stream = std::make_unique<nffr::StreamWriter>(
                paths[part], nffr::StreamWriter::kDefaultMemoryBudget, WritingName(paths[part]));
            files_[part].stream->SetLayout(layout);
        }
    }
    for (OutFile& f : files_)
        f.writer.SetLayout(1);
    files_[kDigital].Each([](auto& w) { w.SetFileType(0); });
    files_[kAnalog].Each([](auto& w) { w.SetFileType(1); });
    SetUnit("1s");
}

std::string Backend::Where(int line) const
{
    return lines_ ? "line " + std::to_string(line) + ": " : "";
}

bool Backend::Fail(const std::string& message)
{
    d_->error = Where(line_) + message;
    return false;
}

void Backend::Warn(const std::string& message)
{
    d_->warnings.push_back(Where(line_) + message);
}

void Backend::Tally(const char* kind, bool note, const std::string& text)
{
    Tallied& t = tallies_[kind];
    if (t.count++ == 0)
        t = {text, line_, 1, note};
}

void Backend::ReportTallies()
{
    std::vector<const Tallied*> order;
    for (const auto& t : tallies_)
        order.push_back(&t.second);
    std::stable_sort(order.begin(), order.end(),
                     [](const Tallied* a, const Tallied* b) { return a->line < b->line; });
    for (const Tallied* t : order)
        (t->note ? d_->notes : d_->warnings)
            .push_back(Where(t->line) + t->text +
                       (t->count > 1 ? " (" + std::to_string(t->count) + " in all)" : ""));
}

void Backend::SetUnit(const std::string& unit)
{
    for (OutFile& f : files_)
        f.Each([&](auto& w) { w.SetTimeUnit(unit); });
}

void Backend::SetStamp(std::string stamp)
{
    for (char& c : stamp)
        if (c == '\0')
            c = ' ';
    if (stamp.size() > 2047)
        stamp.resize(2047);
    for (OutFile& f : files_)
        f.Each([&](auto& w) { w.SetStamp(stamp); });
}

bool Backend::BeginScope(const std::string& name)
{
    if (scopes_.size() >= kMaxDepth)
        return Fail("more than " + std::to_string(kMaxDepth) + " nested scopes");
    // A scope declared again (QuestaSim declares each twice) gets the number it had.
    const uint32_t parent = CurrentScope();
    auto known = scopeIds_.emplace(std::make_pair(parent, name),
                                   static_cast<uint32_t>(scopeIds_.size() + 1));
    openIds_.push_back(name.empty() ? parent : known.first->second);
    scopes_.push_back(name);
    return true;
}

bool Backend::EndScope()
{
    if (scopes_.empty())
        return Fail("$upscope without an open scope");
    for (OutFile& f : files_)
        if (f.openScopes == scopes_.size())
            CloseScope(f);
    scopes_.pop_back();
    openIds_.pop_back();
    return true;
}

// A scope without a name adds no level to the file.
void Backend::CloseScope(OutFile& f)
{
    if (!scopes_[--f.openScopes].empty())
        f.Each([](auto& w) { w.EndScope(); });
}

// A file receives the scopes of its first variable in them, so that neither file holds
// scopes with nothing of its own below them.
void Backend::OpenFileScopes(OutFile& f)
{
    for (; f.openScopes < scopes_.size(); ++f.openScopes)
        if (!scopes_[f.openScopes].empty())
            f.Each([&](auto& w) { w.BeginScope(scopes_[f.openScopes]); });
}

int Backend::Declare(Kind kind, uint32_t width, const std::string& name, const char* reason)
{
    // A logic variable of no bits (VHDL's null ranges) has no value to show.
    const bool empty = width == 0 && kind == Kind::Logic;
    if (empty) {
        kind = Kind::Skipped;
        Tally("zero width", false,
              "variable " + Quote(name) + " of 0 bits skipped: it holds no value");
    } else if (kind == Kind::Skipped) {
        Tally(reason, false,
              std::string(reason) + " variable " + Quote(name) + " skipped: " + reason +
                  "s are not imported");
    }
    const Part part = kind == Kind::Logic ? kDigital : kAnalog;
    Signal& s = signals_.emplace_back();
    s.kind = kind;
    s.part = part;
    s.width = kind == Kind::Real || kind == Kind::Event ? 64 : width;
    s.index = static_cast<uint32_t>(rest_.size());
    SignalRest& rest = rest_.emplace_back(&chunks_);
    rest.name = name;
    rest.scope = CurrentScope();
    const int index = static_cast<int>(signals_.size() - 1);
    if (kind == Kind::Skipped)
        return index;
    OutFile& f = files_[part];
    OpenFileScopes(f);
    const uint8_t varType = kind == Kind::Logic ? 0 : kind == Kind::Real ? 'r' : 'd';
    f.Each([&](auto& w) { s.idcode = w.AddVar(name, varType, s.width); });
    if (f.byIdcode.size() <= static_cast<size_t>(s.idcode))
        f.byIdcode.resize(static_cast<size_t>(s.idcode) + 1);
    f.byIdcode[static_cast<size_t>(s.idcode)] = &s;
    ++(kind == Kind::Logic ? f.logic : kind == Kind::Real ? f.reals : f.events);
    return index;
}

bool Backend::Alias(int index, Kind kind, uint32_t width, const std::string& name)
{
    Signal& s = At(index);
    if (width == 0 && kind == Kind::Logic)
        kind = Kind::Skipped;
    if (s.kind != kind || (kind == Kind::Logic && s.width != width))
        return Fail("code declared twice with different types or sizes");
    const uint32_t scope = CurrentScope();
    if ((Rest(s).scope == scope && Rest(s).name == name) ||
        !aliases_.emplace(index, scope, name).second) {
        const std::string again = " declared again in the same scope with the same code";
        Tally("repeat", true, "variable " + Quote(name) + again + ": one signal kept");
        return true;
    }
    if (s.kind == Kind::Skipped)
        return true;
    OutFile& f = files_[s.part];
    OpenFileScopes(f);
    f.Each([&](auto& w) { w.AddAlias(name, s.idcode); });
    return true;
}

uint32_t Backend::Widest() const
{
    uint32_t widest = 0;
    for (const Signal& s : signals_)
        widest = s.width > widest ? s.width : widest;
    return widest;
}

Backend::~Backend()
{
    StopSender();
}

bool Backend::Step(uint64_t time)
{
    CloseStep();
    for (const OutFile& f : files_)
        if (f.changes.queued.size() >= kBatchChanges || f.changes.used >= kBatchBytes) {
            if (!Send(false))
                return false;
            break;
        }
    stepStartTime_ = time_;
    time_ = time;
    ++serial_;
    touched_.clear();
    return true;
}

inline uint8_t* Backend::Room(Signal& s, size_t n)
{
    OutFile& f = files_[s.part];
    if (!f.stream)
        return Rest(s).values.Room(n);
    OutFile::Changes& c = f.changes;
    if (c.bytes.size() - c.used < n)
        c.bytes.resize(std::max(2 * c.bytes.size(), c.used + n));
    return c.bytes.data() + c.used;
}

inline void Backend::Commit(Signal& s, size_t n)
{
    OutFile& f = files_[s.part];
    if (!f.stream)
        return Rest(s).values.Commit(n);
    f.changes.queued.push_back({s.idcode, static_cast<uint32_t>(n)});
    f.changes.used += n;
}

bool Backend::Append(Signal& s, const void* value, size_t n)
{
    uint8_t* to = Room(s, n);
    if (!to)
        return Fail("out of memory");
    std::memcpy(to, value, n);
    if (!Touch(s))
        return false;
    Commit(s, n);
    return true;
}

void Backend::CloseStep()
{
    for (OutFile& f : files_) {
        OutFile::Changes& c = f.changes;
        if (c.queued.size() > c.StepFrom())
            c.steps.push_back({c.queued.size(), c.used, time_});
    }
}

bool Backend::Send(bool wait)
{
    if (!files_[kDigital].stream)  // layout 1 keeps every change
        return true;
    if (!Written())
        return false;
    for (OutFile& f : files_) {
        // The current step's changes stay: only whole steps are written.
        OutFile::Changes &c = f.changes, &sent = f.sent;
        sent.queued.assign(c.queued.begin() + ptrdiff_t(c.StepFrom()), c.queued.end());
        sent.used = c.used - c.StepUsedFrom();
        if (sent.bytes.size() < sent.used)
            sent.bytes.resize(sent.used);
        if (sent.used)
            std::memcpy(sent.bytes.data(), c.bytes.data() + c.StepUsedFrom(), sent.used);
        sent.steps.clear();
        std::swap(c, sent);
        sent.queued.resize(sent.StepFrom());
        sent.used = sent.StepUsedFrom();
    }
    // The thread starts with the first batch that the input goes on after: a small dump is
    // written without one.
    if (!sender_.joinable() && !senderless_ && !wait) {
        senderless_ = !gSenderThread;
        try {
            if (!senderless_)
                sender_ = nffr::detail::Thread([this] { Sender(); });
        } catch (...) {
            senderless_ = true;
        }
    }
    if (!sender_.joinable()) {
        SendAll();
    } else {
        std::lock_guard<nffr::detail::Mutex> hold(mutex_);
        busy_ = true;
        wake_.notify_one();
    }
    return !wait || Written();
}

bool Backend::Written()
{
    {
        std::unique_lock<nffr::detail::Mutex> hold(mutex_);
        done_.wait(hold, [this] { return !busy_; });
    }
    if (sendError_.empty())
        return true;
    writeFailed_ = true;  // said as the writer says it, as a failure at the end would be
    d_->error = sendError_;
    return false;
}

// Writes the batches sent; an exception (memory) is an error of the import, not of the thread.
void Backend::SendAll()
{
    try {
        for (OutFile& f : files_)
            if (f.stream && sendError_.empty())
                SendBatch(f.sent, f.stream.get());
    } catch (...) {
        sendError_ = "out of memory";
    }
}

// The queues hold what the writers need, so that writing them touches no signal.
void Backend::SendBatch(const OutFile::Changes& batch, nffr::StreamWriter* stream)
{
    const uint8_t* value = batch.bytes.data();
    const std::vector<OutFile::Queued>& queued = batch.queued;
    const size_t n = queued.size();
    size_t i = 0;
    for (const OutFile::StepEnd& step : batch.steps)
        for (; i < step.end; ++i) {
            // The writer's records and chunks of the changes to come are fetched meanwhile.
            if (i + 2 * kAhead < n)
                stream->Prefetch(queued[i + 2 * kAhead].idcode, 0);
            if (i + kAhead < n)
                stream->Prefetch(queued[i + kAhead].idcode, 1);
            const OutFile::Queued& q = queued[i];
            if (q.idcode >= 0 && !stream->AddChange(q.idcode, step.time, value, q.size)) {
                sendError_ = stream->Error();
                return;
            }
            value += q.size;
        }
}

void Backend::Sender()
{
    std::unique_lock<nffr::detail::Mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [this] { return busy_ || stop_; });
        if (stop_)
            return;
        hold.unlock();
        SendAll();
        hold.lock();
        busy_ = false;
        done_.notify_one();
    }
}

// Ends the sender once the batch it writes is written.
void Backend::StopSender()
{
    if (!sender_.joinable())
        return;
    {
        std::unique_lock<nffr::detail::Mutex> hold(mutex_);
        done_.wait(hold, [this] { return !busy_; });
        stop_ = true;
        wake_.notify_one();
    }
    sender_.join();
}

// Remembers the count before this time step's first change, to cut back to it when the
// input turns out to end inside the step.
inline bool Backend::Touch(Signal& s)
{
    if (s.stepSerial != serial_) {
        s.stepSerial = serial_;
        s.countAtStep = s.count;
        touched_.push_back(&s);
    }
    if (s.count == UINT32_MAX)
        return CannotStore(s);
    if (!files_[s.part].stream) {
        Chain& tags = Rest(s).tags;
        uint8_t* tag = tags.Room(sizeof time_);
        if (!tag)
            return CannotStore(s);
        std::memcpy(tag, &time_, sizeof time_);
        tags.Commit(sizeof time_);
    }
    ++s.count;
    return true;
}

// Out of the way of the changes that can be stored.
[[gnu::noinline, gnu::cold]] bool Backend::CannotStore(const Signal& s)
{
    if (s.count == UINT32_MAX)
        return Fail("more than 4294967295 changes of " + Quote(Name(s)));
    return Fail("out of memory");
}

bool Backend::StoreLogic(Signal& s, const char* bits, size_t size, const char* whole,
                         size_t wholeSize)
{
    if (s.kind == Kind::Event)
        return Trigger(s, bits, size);
    if (s.kind == Kind::Skipped)
        return true;
    if (s.kind == Kind::Real)
        return DropReal(s, "the logic value " + Quote(bits, size));
    if (size > s.width)
        return Unfit(s, bits, size, whole, wholeSize);
    // Packed straight into the signal's storage, kept only once every bit is known.
    uint8_t* value = Room(s, s.width);
    if (!value)
        return Fail("out of memory");
    uint8_t* out = value + (s.width - size);
    size_t i = 0;
    // Eight characters at a time while they are all 0 or 1, the common case.
    for (uint64_t w; i + 8 <= size; i += 8) {
        std::memcpy(&w, bits + i, 8);
        if ((w & 0xFEFEFEFEFEFEFEFEull) != 0x3030303030303030ull)
            break;
        w -= 0x3030303030303030ull;
        std::memcpy(out + i, &w, 8);
    }
    for (; i < size; ++i) {
        uint8_t b = kBits.code[static_cast<unsigned char>(bits[i])];
        if (b >= kMapped) {
            if (b == kNoBit)
                return Unfit(s, bits, size, whole, wholeSize);
            ++mapped_[static_cast<unsigned char>(bits[i])];
            b &= 0x0F;
        }
        out[i] = b;
    }
    if (size < s.width)
        std::memset(value, out[0] <= 1 ? 0 : out[0], s.width - size);
    if (!Touch(s))
        return false;
    Commit(s, s.width);
    return true;
}

// A value that does not fit its variable. PyMTL3 writes Python's 0b before the bits: that
// prefix is dropped. Otherwise the message names a bad character before a width.
[[gnu::noinline, gnu::cold]] bool Backend::Unfit(Signal& s, const char* bits, size_t size,
                                                 const char* whole, size_t wholeSize)
{
    const size_t prefix = size > 2 && bits[0] == '0' && (bits[1] == 'b' || bits[1] == 'B');
    size_t bad = 2 * prefix;
    while (bad < size && kBits.code[static_cast<unsigned char>(bits[bad])] != kNoBit)
        ++bad;
    if (bad < size)
        return Fail("bad bit " + Quote(bits + bad, 1) + " in " + Quote(whole, wholeSize));
    bits += 2 * prefix;
    size -= 2 * prefix;
    if (size > s.width || !prefix)
        return Fail("value " + Quote(bits, size) + " wider than its " + std::to_string(s.width) +
                    " bits");
    Tally("0b", true, "Python's 0b prefix dropped from " + Quote(whole, wholeSize));
    return StoreLogic(s, bits, size, whole, wholeSize);
}

[[gnu::noinline, gnu::cold]] bool Backend::DropReal(Signal& s, const std::string& value)
{
    Tally("real text", false, "real variable " + Quote(Name(s)) + " skipped: it is given " + value);
    OutFile& f = files_[s.part];
    if (f.stream && !Send(true))  // the steps before are written, the variable's changes kept
        return false;
    f.Each([&](auto& w) { w.RemoveVar(s.idcode); });
    for (OutFile::Queued& q : f.changes.queued)  // a value given in this step is gone too
        if (q.idcode == s.idcode)
            q.idcode = -1;
    --f.reals;
    s.kind = Kind::Skipped;
    s.count = s.countAtStep = 0;
    Rest(s).tags.TruncateTo(0);
    Rest(s).values.TruncateTo(0);
    return true;
}

bool Backend::Trigger(Signal& s, const char* bits, size_t size)
{
    if (restating_ || size != 1 || kBits.code[static_cast<unsigned char>(bits[0])] != 1) {
        ++eventValuesIgnored_;
        return true;
    }
    const double one = 1.0;
    return Append(s, &one, sizeof one);
}

bool Backend::StoreReal(Signal& s, double v)
{
    return Append(s, &v, sizeof v);
}

bool Backend::DropStep()
{
    for (Signal* s : touched_) {
        const uint64_t valueSize = s->kind == Kind::Logic ? s->width : 8;
        s->count = s->countAtStep;
        Rest(*s).tags.TruncateTo(uint64_t(s->count) * 8);
        Rest(*s).values.TruncateTo(uint64_t(s->count) * valueSize);
    }
    touched_.clear();
    for (OutFile& f : files_) {
        OutFile::Changes& c = f.changes;
        c.queued.resize(c.StepFrom());
        c.used = c.StepUsedFrom();
    }
    time_ = serial_ == 0 ? 0 : stepStartTime_;
    return serial_ != 0;
}

bool Backend::Finish(const char* restatedBy)
{
    CloseStep();
    if (!Send(true))
        return false;
    StopSender();
    for (OutFile& f : files_) {
        while (f.openScopes > 0)
            CloseScope(f);
        f.Each([&](auto& w) { w.SetEndTag(time_); });
    }
    ReportTallies();
    NoteMapped();
    if (eventValuesIgnored_)
        d_->notes.push_back(
            std::to_string(eventValuesIgnored_) +
            (eventValuesIgnored_ == 1 ? " event value that marks" : " event values that mark") +
            " no trigger ignored (values other than 1" +
            (restatedBy ? std::string(", and ") + restatedBy : std::string()) + ")");
    return true;
}

void Backend::NoteMapped()
{
    std::string text;
    const std::pair<const char*, const char*> letters[] = {
        {"Ll", "0"}, {"Hh", "1"}, {"Ww", "X"}, {"-", "X"}};
    for (const auto& l : letters) {
        uint64_t n = 0;
        for (const char* c = l.first; *c; ++c)
            n += mapped_[static_cast<unsigned char>(*c)];
        if (n)
            text += std::string(text.empty() ? "" : ", ") + std::to_string(n) + " " + l.first[0] +
                    " to " + l.second;
    }
    if (!text.empty())
        d_->notes.push_back("nine-value logic mapped to the nearest of 0 1 X Z: " + text);
}

void Backend::Abandon()
{
    StopSender();
    for (OutFile& f : files_)
        if (f.stream)
            f.stream->Abandon();
}

// Writes the file of f: what its stream writer holds, or (layout 1) its writer with the kept
// changes.
bool Backend::WriteFile(OutFile& f, const std::string& path)
{
    const bool ok = f.stream ? f.stream->Finish(&d_->error)
                             : f.writer.WriteStreamed(path, Blocks(f, rest_), &d_->error);
    return ok;
}

bool Backend::Conclude(bool read, const std::string& input, std::vector<std::string>* written)
{
    if (read)
        return WriteFiles(written);
    if (!writeFailed_)
        d_->error = input + ": " + d_->error;
    return false;
}

bool Backend::WriteFiles(std::vector<std::string>* written)
{
    const std::string& output = output_;
    const std::string companion = AnalogCompanionName(output);
    OutFile& digital = files_[kDigital];
    OutFile& analog = files_[kAnalog];
    if (!WriteFile(digital, output))
        return false;
    written->push_back(output + ": " + Plural(digital.logic, "logic variable", "logic variables") +
                       " (file type 0)");
    if (analog.reals + analog.events == 0) {
        if (analog.stream)
            analog.stream->Abandon();
        return RemoveStaleCompanion(companion, written) ||
               (d_->error =
                    "cannot remove the stale \"" + companion + "\": " + std::strerror(errno),
                false);
    }
    if (!WriteFile(analog, companion))
        return false;
    written->push_back(companion + ": " + Plural(analog.reals, "real variable", "real variables") +
                       " and " + Plural(analog.events, "event", "events") + " (file type 1)");
    return true;
}

}  // namespace fsdbgen

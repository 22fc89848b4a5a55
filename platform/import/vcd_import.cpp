// vcd_import.cpp: imports IEEE 1364 VCD files in one streaming pass: logic variables into a
// file of type 0 (one byte per bit), reals and events into an analog companion of type 1.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "import.h"
#include "vcd_stream.h"

namespace fsdbgen {
namespace {

constexpr uint32_t kMaxWidth = 100000000;
// Bounds that keep a hostile file's declarations from taking memory without bound: real
// codes have a few characters, real designs a few dozen levels of scopes.
constexpr size_t kMaxCode = 1024;
constexpr size_t kMaxDepth = 10000;
constexpr size_t kMaxSection = 1 << 20;  // bytes of one section's words kept, with a blank each
constexpr uint8_t kNoBit = 0xFF;
constexpr uint8_t kMapped = 0x10;  // a nine-value letter stored as its nearest of 0 1 X

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

enum class Kind : uint8_t { Logic, Real, Event, Skipped };
enum Part { kDigital = 0, kAnalog = 1 };

// What every change touches comes first; what only messages and a cut-off input need, last.
struct Signal {
    explicit Signal(ChunkPool* pool) : tags(pool), values(pool) {}
    Kind kind = Kind::Logic;
    Part part = kDigital;
    uint32_t width = 0;
    uint32_t count = 0;
    uint32_t stepSerial = UINT32_MAX;
    Chain tags;
    Chain values;
    uint32_t countAtStep = 0;
    int idcode = 0;
    uint32_t scope = 0;  // the number of the scope of its first declaration
    std::string name;
};

// One output file: its writer, the scopes opened in it so far, and its signals by idcode.
struct OutFile {
    nffr::FileWriter writer;
    size_t openScopes = 0;
    std::vector<Signal*> byIdcode;
    uint32_t reals = 0, events = 0, logic = 0;
};

class Blocks : public nffr::BlockSource {
public:
    explicit Blocks(const OutFile& file) : file_(file) {}
    uint32_t Count(int idcode) const override { return file_.byIdcode[idcode]->count; }
    void Write(int idcode, nffr::BlockOut* out) const override
    {
        const Signal& s = *file_.byIdcode[idcode];
        s.tags.ForEach([&](const uint8_t* data, size_t size) {
            out->Tags(reinterpret_cast<const uint64_t*>(data), size / 8);
        });
        s.values.ForEach([&](const uint8_t* data, size_t size) { out->Values(data, size); });
    }

private:
    const OutFile& file_;
};

// A token as a message may show it: printable ASCII only, at most 40 characters.
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

class VcdImporter {
public:
    VcdImporter(VcdInput* in, Diagnostics* d, size_t readBlock)
        : tok_(in, readBlock), readBlock_(readBlock), d_(d)
    {
        files_[kDigital].writer.SetFileType(0);
        files_[kAnalog].writer.SetFileType(1);
        SetUnit("1s");
    }

    bool Run()
    {
        Token t;
        while (tok_.Next(&t)) {
            line_ = t.line;
            if (tok_.LastTokenCutOff() && !Is(t, "$end"))
                return Truncated();
            if (!definitionsDone_ ? Declaration(t) : Dump(t))
                continue;
            return !truncated_ ? false : Truncated();
        }
        if (!tok_.ReadError().empty()) {
            line_ = tok_.Line();
            return Fail(tok_.ReadError());
        }
        const bool cut = tok_.InputCutOff() || (sawToken_ && !definitionsDone_);
        return cut ? Truncated() : Finish();
    }

    bool WriteFiles(const std::string& output, std::vector<std::string>* written);
    // The input is read: its buffer's memory goes to writing the output.
    void DoneReading() { tok_.Release(); }

private:
    static bool Is(const Token& t, const char* word)
    {
        return t.size == std::strlen(word) && std::memcmp(t.text, word, t.size) == 0;
    }

    bool Fail(const std::string& message)
    {
        d_->error = "line " + std::to_string(line_) + ": " + message;
        return false;
    }
    void Warn(const std::string& message)
    {
        d_->warnings.push_back("line " + std::to_string(line_) + ": " + message);
    }
    // Counts one more of a kind of dialect met or of input skipped; each kind gets one line at
    // the end: the first one's text and line, and how many there were.
    void Tally(const char* kind, bool note, const std::string& text)
    {
        Tallied& t = tallies_[kind];
        if (t.count++ == 0)
            t = {text, line_, 1, note};
    }

    void ReportTallies()
    {
        std::vector<const Tallied*> order;
        for (const auto& t : tallies_)
            order.push_back(&t.second);
        std::stable_sort(order.begin(), order.end(),
                         [](const Tallied* a, const Tallied* b) { return a->line < b->line; });
        for (const Tallied* t : order)
            (t->note ? d_->notes : d_->warnings)
                .push_back("line " + std::to_string(t->line) + ": " + t->text +
                           (t->count > 1 ? " (" + std::to_string(t->count) + " in all)" : ""));
    }

    // Marks the input as ended early; Run then keeps what came before the cut.
    bool CutOff()
    {
        truncated_ = true;
        return false;
    }

    void SetUnit(const std::string& unit)
    {
        for (OutFile& f : files_)
            f.writer.SetTimeUnit(unit);
    }

    // --- declarations ---

    bool Declaration(const Token& t)
    {
        if (sawToken_ && (t.text[0] == '#' || IsDumpKeyword(t)))
            return NoEndDefinitions(t);
        if (t.text[0] != '$')
            return Fail(sawToken_ ? Quote(t.text, t.size) + " among the declarations"
                                  : "not a VCD file: it does not begin with a $ keyword");
        sawToken_ = true;
        const std::string keyword(t.text, t.size);
        std::vector<std::string> words;
        if (!Section(keyword, &words))
            return false;
        if (keyword == "$timescale")
            return Timescale(words);
        if (keyword == "$scope")
            return (scopes_.size() < kMaxDepth ||
                    Fail("more than " + std::to_string(kMaxDepth) + " nested scopes")) &&
                   Scope(words);
        if (keyword == "$upscope")
            return Upscope();
        if (keyword == "$var")
            return (words.size() < 3 || words[2].size() <= kMaxCode ||
                    Fail("$var code longer than " + std::to_string(kMaxCode) + " characters")) &&
                   Var(words);
        if (keyword == "$date")
            return Date(words);
        if (keyword == "$enddefinitions")
            EndDefinitions();
        else if (keyword != "$comment" && keyword != "$version")
            SkippedSection(keyword);
        return true;
    }

    // GHDL and nvc write a $attrbegin section per variable: one line per kind of section.
    void SkippedSection(const std::string& keyword)
    {
        const std::string kind = "section " + keyword;
        Tally(kind.c_str(), false, "unknown section " + Quote(keyword) + " skipped");
    }

    // A time or $dumpvars among the declarations: the file lacks its $enddefinitions.
    [[gnu::noinline, gnu::cold]] bool NoEndDefinitions(const Token& t)
    {
        Warn("no $enddefinitions before " + Quote(t.text, t.size) +
             ": the declarations are taken to end here");
        EndDefinitions();
        return Dump(t);
    }

    static bool IsDumpKeyword(const Token& t)
    {
        return Is(t, "$dumpvars") || Is(t, "$dumpon") || Is(t, "$dumpoff") || Is(t, "$dumpall");
    }

    // The words of a section up to its $end (none of a comment's, at most kMaxSection bytes of
    // another's); the input ending first cuts it off.
    bool Section(const std::string& keyword, std::vector<std::string>* words)
    {
        const bool keep = keyword != "$comment" && keyword != "$version";
        size_t bytes = 0;
        Token t;
        while (tok_.Next(&t)) {
            if (Is(t, "$end"))
                return true;
            if (tok_.LastTokenCutOff())
                break;
            if (!keep)
                continue;
            bytes += t.size + 1;  // and a blank
            if (bytes > kMaxSection)
                return Fail(Quote(keyword) + " section longer than " + std::to_string(kMaxSection) +
                            " bytes");
            words->emplace_back(t.text, t.size);
        }
        if (!tok_.ReadError().empty())
            return Fail(tok_.ReadError());
        cutKeyword_ = keyword;
        return CutOff();
    }

    bool Timescale(const std::vector<std::string>& words)
    {
        std::string text;
        for (const std::string& w : words)
            text += w;
        const size_t digits = text.find_first_not_of("0123456789");
        const std::string unit = digits == std::string::npos ? "" : text.substr(digits);
        // Any whole number of a unit (tools write 244 ns as well as 1, 10 or 100), for a tick
        // from 1 fs to 100 s, the range of the standard's units, which the plug-in reads exactly.
        static const char* units[] = {"s", "ms", "us", "ns", "ps", "fs"};
        uint64_t limit = 0;  // the largest number of the unit: 100 s
        uint64_t scale = 100;
        for (const char* u : units) {
            limit = unit == u ? scale : limit;
            scale *= 1000;
        }
        uint64_t number = 0;
        for (size_t i = 0; i < std::min(digits, text.size()) && number <= limit; ++i)
            number = number * 10 + static_cast<uint64_t>(text[i] - '0');
        if (number == 0 || number > limit)
            return Fail("bad $timescale " + Quote(text) +
                        ": write a whole number of s, ms, us, ns, ps or fs, from 1 fs to 100 s");
        SetUnit(std::to_string(number) + unit);
        return true;
    }

    bool Scope(const std::vector<std::string>& words)
    {
        if (words.empty())
            return Fail("$scope needs a type and a name");
        if (words.size() < 2)
            Tally("scope", true,
                  "scope without a name (as Verilator's top scope): its variables are placed "
                  "in the enclosing scope");
        std::string name = words.size() < 2 ? "" : words[1];
        for (size_t i = 2; i < words.size(); ++i)
            name += " " + words[i];
        // A scope declared again (QuestaSim declares each twice) gets the number it had.
        const uint32_t parent = CurrentScope();
        auto known = scopeIds_.emplace(std::make_pair(parent, name),
                                       static_cast<uint32_t>(scopeIds_.size() + 1));
        openIds_.push_back(name.empty() ? parent : known.first->second);
        scopes_.push_back(name);
        return true;
    }

    uint32_t CurrentScope() const { return openIds_.empty() ? 0 : openIds_.back(); }

    bool Upscope()
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
    void CloseScope(OutFile& f)
    {
        if (!scopes_[--f.openScopes].empty())
            f.writer.EndScope();
    }

    // A file receives the scopes of its first variable in them, so that neither file holds
    // scopes with nothing of its own below them.
    void OpenScopes(OutFile& f)
    {
        for (; f.openScopes < scopes_.size(); ++f.openScopes)
            if (!scopes_[f.openScopes].empty())
                f.writer.BeginScope(scopes_[f.openScopes]);
    }

    bool Date(const std::vector<std::string>& words)
    {
        std::string stamp;
        for (const std::string& w : words)
            stamp += (stamp.empty() ? "" : " ") + w;
        for (char& c : stamp)
            if (c == '\0')
                c = ' ';
        if (stamp.size() > 2047)
            stamp.resize(2047);
        for (OutFile& f : files_)
            f.writer.SetStamp(stamp);
        return true;
    }

    static Kind KindOf(const std::string& type)
    {
        if (type == "real" || type == "realtime" || type == "shortreal" || type == "real_parameter")
            return Kind::Real;
        if (type == "event")
            return Kind::Event;
        if (type == "string")
            return Kind::Skipped;
        return Kind::Logic;
    }

    bool Var(const std::vector<std::string>& words)
    {
        if (words.size() < 4)
            return Fail("$var needs a type, size, code and reference");
        uint32_t width = 0;
        for (char c : words[1])
            if (c < '0' || c > '9' || width > kMaxWidth / 10)
                return Fail("bad $var size " + Quote(words[1]));
            else
                width = width * 10 + static_cast<uint32_t>(c - '0');
        // A logic variable of no bits (VHDL's null ranges) has no value to show.
        const bool empty = width == 0 && KindOf(words[0]) == Kind::Logic;
        const Kind kind = empty ? Kind::Skipped : KindOf(words[0]);
        if (words[1].empty() || width > kMaxWidth)
            return Fail("bad $var size " + Quote(words[1]));
        const std::string& code = words[2];
        std::string name = words[3];
        for (size_t i = 4; i < words.size(); ++i)
            name += words[i];
        const int known = codes_.Find(code.data(), code.size());
        if (known >= 0)
            return Alias(known, kind, width, name);
        if (empty)
            Tally("zero width", false,
                  "variable " + Quote(name) + " of 0 bits skipped: it holds no value");
        else if (kind == Kind::Skipped)
            Tally("string", false,
                  "string variable " + Quote(name) + " skipped: strings are not imported");
        const Part part = kind == Kind::Logic ? kDigital : kAnalog;
        Signal& s = signals_.emplace_back(&chunks_);
        s.kind = kind;
        s.part = part;
        s.width = kind == Kind::Real || kind == Kind::Event ? 64 : width;
        s.name = name;
        s.scope = CurrentScope();
        codes_.Insert(code.data(), code.size(), static_cast<int>(signals_.size() - 1));
        if (kind == Kind::Skipped)
            return true;
        OutFile& f = files_[part];
        OpenScopes(f);
        const uint8_t varType = kind == Kind::Logic ? 0 : kind == Kind::Real ? 'r' : 'd';
        s.idcode = f.writer.AddVar(name, varType, s.width);
        if (f.byIdcode.size() <= static_cast<size_t>(s.idcode))
            f.byIdcode.resize(static_cast<size_t>(s.idcode) + 1);
        f.byIdcode[static_cast<size_t>(s.idcode)] = &s;
        ++(kind == Kind::Logic ? f.logic : kind == Kind::Real ? f.reals : f.events);
        return true;
    }

    // A second $var of one code: a second name of the same signal, unless it repeats a name
    // the signal has in this scope.
    bool Alias(int index, Kind kind, uint32_t width, const std::string& name)
    {
        Signal& s = signals_[static_cast<size_t>(index)];
        if (s.kind != kind || (kind == Kind::Logic && s.width != width))
            return Fail("code declared twice with different types or sizes");
        const uint32_t scope = CurrentScope();
        if ((s.scope == scope && s.name == name) || !aliases_.emplace(index, scope, name).second) {
            const std::string again = " declared again in the same scope with the same code";
            Tally("repeat", true, "variable " + Quote(name) + again + ": one signal kept");
            return true;
        }
        if (kind == Kind::Skipped)
            return true;
        OutFile& f = files_[s.part];
        OpenScopes(f);
        f.writer.AddAlias(name, s.idcode);
        return true;
    }

    // A value and its code may take as many bytes as the widest variable needs.
    void EndDefinitions()
    {
        definitionsDone_ = true;
        size_t widest = 0;
        for (const Signal& s : signals_)
            widest = s.width > widest ? s.width : widest;
        tok_.SetLimit(readBlock_ + widest);
    }

    // --- the dump ---

    bool Dump(const Token& t)
    {
        switch (t.text[0]) {
        case '#': return Time(t);
        case 'b':
        case 'B': return Vector(t);
        case 'r':
        case 'R': return Real(t);
        case 's':
        case 'S': return String(t);
        case '$': return DumpKeyword(t);
        default: return Scalar(t);
        }
    }

    bool DumpKeyword(const Token& t)
    {
        if (IsDumpKeyword(t) || Is(t, "$end")) {
            inDumpSection_ = !Is(t, "$end");
            return true;
        }
        const std::string keyword(t.text, t.size);
        std::vector<std::string> words;
        if (!Section(keyword, &words))
            return false;
        if (keyword != "$comment")
            SkippedSection(keyword);
        return true;
    }

    bool Time(const Token& t)
    {
        uint64_t v = 0;
        if (t.size < 2)
            return Fail("bad time \"#\"");
        for (size_t i = 1; i < t.size; ++i) {
            const char c = t.text[i];
            if (c < '0' || c > '9' || v > (UINT64_MAX - 9) / 10) {
                if (!ZeroFraction(t, i))
                    return Fail("bad time " + Quote(t.text, t.size));
                break;
            }
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (v < time_)
            return Fail("time " + Quote(t.text, t.size) + " before the previous time");
        stepStartTime_ = time_;
        stepLine_ = line_;
        time_ = v;
        ++serial_;
        touched_.clear();
        return true;
    }

    // Migen writes whole times as #3.0: a fraction of zeros after the digits from i on.
    [[gnu::noinline, gnu::cold]] bool ZeroFraction(const Token& t, size_t i)
    {
        if (i < 2 || t.text[i] != '.' || i + 1 == t.size)
            return false;
        for (size_t j = i + 1; j < t.size; ++j)
            if (t.text[j] != '0')
                return false;
        Tally("time fraction", true, "time " + Quote(t.text, t.size) + " read as a whole time");
        return true;
    }

    // The signal of the code that follows a vector, real or string value.
    bool CodeAfterValue(Signal** s, Token* value = nullptr)
    {
        Token code;
        if (!tok_.Next(&code, value) || tok_.LastTokenCutOff())
            return tok_.ReadError().empty() ? CutOff() : Fail(tok_.ReadError());
        return Lookup(code, s);
    }

    bool Lookup(const Token& code, Signal** s)
    {
        const int index = codes_.Find(code.text, code.size);
        if (index < 0)
            return Fail("unknown code " + Quote(code.text, code.size));
        *s = &signals_[static_cast<size_t>(index)];
        return true;
    }

    // Remembers the count before this time step's first change, to cut back to it when the
    // input turns out to end inside the step.
    bool Touch(Signal& s)
    {
        if (s.stepSerial != serial_) {
            s.stepSerial = serial_;
            s.countAtStep = s.count;
            touched_.push_back(&s);
        }
        uint8_t* tag = s.tags.Room(sizeof time_);
        if (!tag || s.count == UINT32_MAX)
            return CannotStore(s);
        std::memcpy(tag, &time_, sizeof time_);
        s.tags.Commit(sizeof time_);
        ++s.count;
        return true;
    }

    // Out of the way of the changes that can be stored.
    [[gnu::noinline, gnu::cold]] bool CannotStore(const Signal& s)
    {
        if (s.count == UINT32_MAX)
            return Fail("more than 4294967295 changes of " + Quote(s.name));
        return Fail("out of memory");
    }

    bool Scalar(const Token& t)
    {
        if (t.size < 2 || kBits.code[static_cast<unsigned char>(t.text[0])] == kNoBit)
            return Fail("bad value change " + Quote(t.text, t.size));
        Token code{t.text + 1, t.size - 1, t.line};
        Signal* s = nullptr;
        if (!Lookup(code, &s))
            return false;
        return Store(*s, t.text, 1, t);
    }

    bool Vector(const Token& t)
    {
        if (t.size < 2)
            return EmptyVector();
        Token value{t.text + 1, t.size - 1, t.line};
        Signal* s = nullptr;
        if (!CodeAfterValue(&s, &value))
            return false;
        return Store(*s, value.text, value.size, value);
    }

    // "b CODE": the value of a variable of 0 bits, skipped with it.
    [[gnu::noinline, gnu::cold]] bool EmptyVector()
    {
        Signal* s = nullptr;
        if (!CodeAfterValue(&s))
            return false;
        return (s->kind == Kind::Skipped && s->width == 0) || Fail("empty vector value");
    }

    // Stores a logic value of size characters, extended on the left to the signal's width:
    // with 0 when its first character is 0 or 1 (or L or H), else with that character.
    bool Store(Signal& s, const char* bits, size_t size, const Token& t)
    {
        if (s.kind == Kind::Event)
            return Trigger(s, bits, size);
        if (s.kind == Kind::Skipped)
            return true;
        if (s.kind == Kind::Real)
            return DropReal(s, "the logic value " + Quote(bits, size));
        if (size > s.width)
            return Unfit(s, bits, size, t);
        // Packed straight into the signal's storage, kept only once every bit is known.
        uint8_t* value = s.values.Room(s.width);
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
                    return Unfit(s, bits, size, t);
                ++mapped_[static_cast<unsigned char>(bits[i])];
                b &= 0x0F;
            }
            out[i] = b;
        }
        if (size < s.width)
            std::memset(value, out[0] <= 1 ? 0 : out[0], s.width - size);
        if (!Touch(s))
            return false;
        s.values.Commit(s.width);
        return true;
    }

    // A value that does not fit its variable. PyMTL3 writes Python's 0b before the bits: that
    // prefix is dropped. Otherwise the message names a bad character before a width.
    [[gnu::noinline, gnu::cold]] bool Unfit(Signal& s, const char* bits, size_t size,
                                            const Token& t)
    {
        const size_t prefix = size > 2 && bits[0] == '0' && (bits[1] == 'b' || bits[1] == 'B');
        size_t bad = 2 * prefix;
        while (bad < size && kBits.code[static_cast<unsigned char>(bits[bad])] != kNoBit)
            ++bad;
        if (bad < size)
            return Fail("bad bit " + Quote(bits + bad, 1) + " in " + Quote(t.text, t.size));
        bits += 2 * prefix;
        size -= 2 * prefix;
        if (size > s.width || !prefix)
            return Fail("value " + Quote(bits, size) + " wider than its " +
                        std::to_string(s.width) + " bits");
        Tally("0b", true, "Python's 0b prefix dropped from " + Quote(t.text, t.size));
        return Store(s, bits, size, t);
    }

    // A real variable given a value that is not a number (MyHDL declares enumerations as reals
    // and writes their names): the variable is left out of the file, with what it had stored.
    [[gnu::noinline, gnu::cold]] bool DropReal(Signal& s, const std::string& value)
    {
        Tally("real text", false,
              "real variable " + Quote(s.name) + " skipped: it is given " + value);
        OutFile& f = files_[s.part];
        f.writer.RemoveVar(s.idcode);
        --f.reals;
        s.kind = Kind::Skipped;
        s.count = s.countAtStep = 0;
        s.tags.TruncateTo(0);
        s.values.TruncateTo(0);
        return true;
    }

    // An event's value 1 is one trigger; its other values (an initial x), and every value of a
    // $dumpvars-like section, which restates the state rather than a trigger, carry nothing.
    bool Trigger(Signal& s, const char* bits, size_t size)
    {
        if (inDumpSection_ || size != 1 || kBits.code[static_cast<unsigned char>(bits[0])] != 1) {
            ++eventValuesIgnored_;
            return true;
        }
        const double one = 1.0;
        return Touch(s) && (s.values.Append(&one, sizeof one) || Fail("out of memory"));
    }

    bool Real(const Token& t)
    {
        real_.assign(t.text, t.size);
        Signal* s = nullptr;
        if (!CodeAfterValue(&s))
            return false;
        if (s->kind == Kind::Skipped)
            return true;
        if (s->kind != Kind::Real)
            return Fail("real value for " + Quote(s->name) + ", which is not a real variable");
        char* end = nullptr;
        const double v = std::strtod(real_.c_str() + 1, &end);
        if (real_.size() < 2 || *end != '\0')
            return DropReal(*s, Quote(real_) + ", which is not a number");
        return Touch(*s) && (s->values.Append(&v, sizeof v) || Fail("out of memory"));
    }

    bool String(const Token& t)
    {
        real_.assign(t.text, t.size);
        Signal* s = nullptr;
        if (!CodeAfterValue(&s))
            return false;
        if (s->kind == Kind::Real)
            return DropReal(*s, Quote(real_) + ", which is not a number");
        return s->kind == Kind::Skipped ||
               Fail("string value for " + Quote(s->name) + ", which is not a string variable");
    }

    // --- the end ---

    // The input ended inside a time step (a simulation killed or still running): keep every
    // complete step, drop the changes of the cut one.
    bool Truncated()
    {
        truncated_ = true;
        if (!definitionsDone_) {
            Warn("the file ends " +
                 (cutKeyword_.empty()
                      ? ""
                      : "inside " + Printable(cutKeyword_.data(), cutKeyword_.size()) + " ") +
                 "before $enddefinitions; the variables declared so far are kept, without values");
            return Finish();
        }
        for (Signal* s : touched_) {
            const uint64_t valueSize = s->kind == Kind::Logic ? s->width : 8;
            s->count = s->countAtStep;
            s->tags.TruncateTo(uint64_t(s->count) * 8);
            s->values.TruncateTo(uint64_t(s->count) * valueSize);
        }
        const bool none = serial_ == 0;
        if (none)
            Warn("the file ends before its first #time; no changes kept");
        else
            Warn("the file ends in the middle of the time step #" + std::to_string(time_) +
                 " begun on line " + std::to_string(stepLine_) + "; kept the changes up to #" +
                 std::to_string(stepStartTime_));
        time_ = none ? 0 : stepStartTime_;
        return Finish();
    }

    bool Finish()
    {
        if (!scopes_.empty() && !truncated_)
            return Fail("end of file inside " + std::to_string(scopes_.size()) + " open scopes");
        for (OutFile& f : files_) {
            while (f.openScopes > 0)
                CloseScope(f);
            f.writer.SetEndTag(time_);
        }
        if (signals_.empty())
            d_->warnings.push_back(sawToken_ ? "no variables declared" : "empty VCD file");
        ReportTallies();
        NoteMapped();
        if (eventValuesIgnored_)
            d_->notes.push_back(
                std::to_string(eventValuesIgnored_) +
                (eventValuesIgnored_ == 1 ? " event value that marks" : " event values that mark") +
                " no trigger ignored (values other than 1, and "
                "values in $dumpvars and the like)");
        return true;
    }

    void NoteMapped()
    {
        std::string text;
        const std::pair<const char*, const char*> letters[] = {
            {"Ll", "0"}, {"Hh", "1"}, {"Ww", "X"}, {"-", "X"}};
        for (const auto& l : letters) {
            uint64_t n = 0;
            for (const char* c = l.first; *c; ++c)
                n += mapped_[static_cast<unsigned char>(*c)];
            if (n)
                text += std::string(text.empty() ? "" : ", ") + std::to_string(n) + " " +
                        l.first[0] + " to " + l.second;
        }
        if (!text.empty())
            d_->notes.push_back("nine-value logic mapped to the nearest of 0 1 X Z: " + text);
    }

    Tokenizer tok_;
    size_t readBlock_;
    Diagnostics* d_;
    OutFile files_[2];
    ChunkPool chunks_;  // before the signals, whose chains hold its chunks
    std::deque<Signal> signals_;
    CodeTable codes_;
    std::vector<std::string> scopes_;  // the open scopes' names, empty for one without
    std::vector<uint32_t> openIds_;    // their numbers, one per scope path (0: the top)
    std::map<std::pair<uint32_t, std::string>, uint32_t> scopeIds_;
    std::set<std::tuple<int, uint32_t, std::string>> aliases_;  // signal, scope, name
    std::vector<Signal*> touched_;
    std::string real_, cutKeyword_;
    struct Tallied {
        std::string text;
        int line;
        uint64_t count;
        bool note;
    };
    std::map<std::string, Tallied> tallies_;
    uint64_t mapped_[256] = {};
    uint64_t eventValuesIgnored_ = 0;
    uint64_t time_ = 0;
    uint64_t stepStartTime_ = 0;
    uint32_t serial_ = 0;
    int line_ = 0;
    int stepLine_ = 1;
    bool definitionsDone_ = false;
    bool sawToken_ = false;
    bool truncated_ = false;
    bool inDumpSection_ = false;
};

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

std::string Plural(uint32_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A companion left by an earlier import of a VCD that had reals or events: it would be taken
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

bool VcdImporter::WriteFiles(const std::string& output, std::vector<std::string>* written)
{
    const std::string companion = AnalogCompanionName(output);
    std::string error;
    const OutFile& digital = files_[kDigital];
    const OutFile& analog = files_[kAnalog];
    if (!digital.writer.WriteStreamed(output, Blocks(digital), &error)) {
        d_->error = error;
        return false;
    }
    written->push_back(output + ": " + Plural(digital.logic, "logic variable", "logic variables") +
                       " (file type 0)");
    if (analog.reals + analog.events == 0)
        return RemoveStaleCompanion(companion, written) ||
               (d_->error =
                    "cannot remove the stale \"" + companion + "\": " + std::strerror(errno),
                false);
    if (!analog.writer.WriteStreamed(companion, Blocks(analog), &error)) {
        d_->error = error;
        return false;
    }
    written->push_back(companion + ": " + Plural(analog.reals, "real variable", "real variables") +
                       " and " + Plural(analog.events, "event", "events") + " (file type 1)");
    return true;
}

}  // namespace

namespace {

bool AllDigits(const std::string& text, size_t from, size_t to)
{
    if (from >= to)
        return false;
    for (size_t i = from; i < to; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

}  // namespace

std::string AnalogCompanionName(const std::string& output)
{
    const size_t slash = output.find_last_of("/\\");
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    // A split file's number, ".N" at the end or "_N" before the extension, stays where it is
    // after ".analog" goes in, so that the companions form a chain named like the files'.
    size_t end = output.size();
    for (size_t dot = output.rfind('.', end - 1);
         dot != std::string::npos && dot > start && AllDigits(output, dot + 1, end);
         dot = output.rfind('.', end - 1))
        end = dot;
    const size_t dot = output.rfind('.', end - 1);
    if (dot == std::string::npos || dot <= start)
        return output.substr(0, end) + ".analog" + output.substr(end);
    size_t stem = dot;
    for (size_t mark = output.rfind('_', stem - 1);
         mark != std::string::npos && mark > start && AllDigits(output, mark + 1, stem);
         mark = output.rfind('_', stem - 1))
        stem = mark;
    return output.substr(0, stem) + ".analog" + output.substr(stem);
}

bool ConvertVcd(const std::string& input, const std::string& output, Diagnostics* diag,
                std::vector<std::string>* written, size_t readBlock)
{
    if (SameFile(input, output) || SameFile(input, AnalogCompanionName(output))) {
        diag->error = "the output would replace the input";
        return false;
    }
    VcdInput in;
    if (!in.Open(input, &diag->error))
        return false;
    VcdImporter importer(&in, diag, readBlock ? readBlock : Tokenizer::kReadBlock);
    const bool read = importer.Run();
    importer.DoneReading();
    in.Close();
    if (!read) {
        diag->error = input + ": " + diag->error;
        return false;
    }
    return importer.WriteFiles(output, written);
}

}  // namespace fsdbgen

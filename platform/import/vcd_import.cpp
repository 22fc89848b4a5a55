// vcd_import.cpp: the VCD front-end of the import: IEEE 1364 VCD files, plain, gzip or a pipe,
// read in one streaming pass; declarations and values go to the shared back-end.
#include <cerrno>
#include <cstdlib>

#include "import.h"
#include "import_backend.h"
#include "vcd_stream.h"

namespace fsdbgen {
namespace {

constexpr uint32_t kMaxWidth = 100000000;
// Bounds that keep a hostile file's declarations from taking memory without bound: real
// codes have a few characters.
constexpr size_t kMaxCode = 1024;
constexpr size_t kMaxSection = 1 << 20;  // bytes of one section's words kept, with a blank each

class VcdImporter {
public:
    VcdImporter(VcdInput* in, Diagnostics* d, size_t readBlock, const std::string& output,
                int layout)
        : tok_(in, readBlock), readBlock_(readBlock), d_(d), out_(d, output, layout)
    {
    }

    bool Run()
    {
        Token t;
        while (tok_.Next(&t)) {
            SetLine(t.line);
            if (tok_.LastTokenCutOff() && !Is(t, "$end"))
                return Truncated();
            if (!definitionsDone_ ? Declaration(t) : Dump(t))
                continue;
            return !truncated_ ? false : Truncated();
        }
        if (!tok_.ReadError().empty()) {
            SetLine(tok_.Line());
            return Fail(tok_.ReadError());
        }
        const bool cut = tok_.InputCutOff() || (sawToken_ && !definitionsDone_);
        return cut ? Truncated() : Finish();
    }

    bool Conclude(bool read, const std::string& input, std::vector<std::string>* written)
    {
        return out_.Conclude(read, input, written);
    }
    // The input is read: its buffer's memory goes to writing the output.
    void DoneReading() { tok_.Release(); }

private:
    static bool Is(const Token& t, const char* word)
    {
        return t.size == std::strlen(word) && std::memcmp(t.text, word, t.size) == 0;
    }

    void SetLine(int line)
    {
        line_ = line;
        out_.SetLine(line);
    }
    bool Fail(const std::string& message) { return out_.Fail(message); }
    void Warn(const std::string& message) { out_.Warn(message); }

    // Marks the input as ended early; Run then keeps what came before the cut.
    bool CutOff()
    {
        truncated_ = true;
        return false;
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
            return Scope(words);
        if (keyword == "$upscope")
            return out_.EndScope();
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
        out_.Tally(kind.c_str(), false, "unknown section " + Quote(keyword) + " skipped");
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
        out_.SetUnit(std::to_string(number) + unit);
        return true;
    }

    bool Scope(const std::vector<std::string>& words)
    {
        if (words.empty())
            return Fail("$scope needs a type and a name");
        if (words.size() < 2)
            out_.Tally("scope", true,
                       "scope without a name (as Verilator's top scope): its variables are placed "
                       "in the enclosing scope");
        std::string name = words.size() < 2 ? "" : words[1];
        for (size_t i = 2; i < words.size(); ++i)
            name += " " + words[i];
        return out_.BeginScope(name);
    }

    bool Date(const std::vector<std::string>& words)
    {
        std::string stamp;
        for (const std::string& w : words)
            stamp += (stamp.empty() ? "" : " ") + w;
        out_.SetStamp(stamp);
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
        if (words[1].empty() || width > kMaxWidth)
            return Fail("bad $var size " + Quote(words[1]));
        const Kind kind = KindOf(words[0]);
        const std::string& code = words[2];
        std::string name = words[3];
        for (size_t i = 4; i < words.size(); ++i)
            name += words[i];
        const int known = codes_.Find(code.data(), code.size());
        if (known >= 0)
            return out_.Alias(known, kind, width, name);
        codes_.Insert(code.data(), code.size(), out_.Declare(kind, width, name, "string"));
        return true;
    }

    // A value and its code may take as many bytes as the widest variable needs.
    void EndDefinitions()
    {
        definitionsDone_ = true;
        tok_.SetLimit(readBlock_ + out_.Widest());
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
            out_.SetRestating(!Is(t, "$end"));
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
        if (v < out_.Time())
            return Fail("time " + Quote(t.text, t.size) + " before the previous time");
        stepLine_ = line_;
        return out_.Step(v);
    }

    // Migen writes whole times as #3.0: a fraction of zeros after the digits from i on.
    [[gnu::noinline, gnu::cold]] bool ZeroFraction(const Token& t, size_t i)
    {
        if (i < 2 || t.text[i] != '.' || i + 1 == t.size)
            return false;
        for (size_t j = i + 1; j < t.size; ++j)
            if (t.text[j] != '0')
                return false;
        out_.Tally("time fraction", true,
                   "time " + Quote(t.text, t.size) + " read as a whole time");
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
        *s = &out_.At(index);
        return true;
    }

    bool Scalar(const Token& t)
    {
        if (t.size < 2 || !IsBitChar(t.text[0]))
            return Fail("bad value change " + Quote(t.text, t.size));
        Token code{t.text + 1, t.size - 1, t.line};
        Signal* s = nullptr;
        if (!Lookup(code, &s))
            return false;
        return out_.StoreLogic(*s, t.text, 1, t.text, t.size);
    }

    bool Vector(const Token& t)
    {
        if (t.size < 2)
            return EmptyVector();
        Token value{t.text + 1, t.size - 1, t.line};
        Signal* s = nullptr;
        if (!CodeAfterValue(&s, &value))
            return false;
        return out_.StoreLogic(*s, value.text, value.size, value.text, value.size);
    }

    // "b CODE": the value of a variable of 0 bits, skipped with it.
    [[gnu::noinline, gnu::cold]] bool EmptyVector()
    {
        Signal* s = nullptr;
        if (!CodeAfterValue(&s))
            return false;
        return (s->kind == Kind::Skipped && s->width == 0) || Fail("empty vector value");
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
            return Fail("real value for " + Quote(out_.Name(*s)) +
                        ", which is not a real variable");
        char* end = nullptr;
        const double v = std::strtod(real_.c_str() + 1, &end);
        if (real_.size() < 2 || *end != '\0')
            return out_.DropReal(*s, Quote(real_) + ", which is not a number");
        return out_.StoreReal(*s, v);
    }

    bool String(const Token& t)
    {
        real_.assign(t.text, t.size);
        Signal* s = nullptr;
        if (!CodeAfterValue(&s))
            return false;
        if (s->kind == Kind::Real)
            return out_.DropReal(*s, Quote(real_) + ", which is not a number");
        return s->kind == Kind::Skipped || Fail("string value for " + Quote(out_.Name(*s)) +
                                                ", which is not a string variable");
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
        const uint64_t cutTime = out_.Time();
        if (!out_.DropStep())
            Warn("the file ends before its first #time; no changes kept");
        else
            Warn("the file ends in the middle of the time step #" + std::to_string(cutTime) +
                 " begun on line " + std::to_string(stepLine_) + "; kept the changes up to #" +
                 std::to_string(out_.Time()));
        return Finish();
    }

    bool Finish()
    {
        if (out_.OpenScopes() > 0 && !truncated_)
            return Fail("end of file inside " + std::to_string(out_.OpenScopes()) + " open scopes");
        if (out_.Signals() == 0)
            d_->warnings.push_back(sawToken_ ? "no variables declared" : "empty VCD file");
        return out_.Finish("values in $dumpvars and the like");
    }

    Tokenizer tok_;
    size_t readBlock_;
    Diagnostics* d_;
    Backend out_;
    CodeTable codes_;
    std::string real_, cutKeyword_;
    int line_ = 0;
    int stepLine_ = 1;
    bool definitionsDone_ = false;
    bool sawToken_ = false;
    bool truncated_ = false;
};

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
                std::vector<std::string>* written, size_t readBlock, int layout)
{
    if (!CheckOutputs(input, output, diag))
        return false;
    VcdInput in;
    if (!in.Open(input, &diag->error))
        return false;
    VcdImporter importer(&in, diag, readBlock ? readBlock : Tokenizer::kReadBlock, output, layout);
    const bool read = importer.Run();
    importer.DoneReading();
    in.Close();
    return importer.Conclude(read, input, written);
}

}  // namespace fsdbgen

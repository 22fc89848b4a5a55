// fsdbgen_vcd.cpp: imports IEEE 1364 VCD files as file type 0 (one byte per bit): the
// declarations become scopes and variables, the dump its value changes.
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "fsdbgen.h"

namespace fsdbgen {
namespace {

struct Token {
    std::string text;
    int line;
};

class Tokenizer {
public:
    explicit Tokenizer(std::istream& in) : in_(in) {}
    bool Next(Token* token)
    {
        std::string text;
        int c;
        while ((c = in_.get()) != EOF) {
            if (c == '\n')
                ++line_;
            if (!std::isspace(c))
                break;
        }
        if (c == EOF)
            return false;
        token->line = line_;
        do
            text.push_back(static_cast<char>(c));
        while ((c = in_.peek()) != EOF && !std::isspace(c) && in_.get());
        token->text = text;
        return true;
    }
    int Line() const { return line_; }

private:
    std::istream& in_;
    int line_ = 1;
};

struct VcdVar {
    int idcode = 0;
    uint32_t width = 0;
};

class VcdImporter {
public:
    VcdImporter(std::istream& in, nffr::FileWriter* w, Diagnostics* d) : tok_(in), w_(w), d_(d) {}

    bool Run()
    {
        w_->SetFileType(0);
        w_->SetTimeUnit("1s");
        Token t;
        while (tok_.Next(&t)) {
            line_ = t.line;
            if (!Token1(t))
                return false;
        }
        if (depth_ > 0)
            return Fail("end of file inside " + std::to_string(depth_) + " open scopes");
        w_->SetEndTag(time_);
        return true;
    }

private:
    bool Fail(const std::string& message)
    {
        d_->error = "line " + std::to_string(line_) + ": " + message;
        return false;
    }
    void Warn(const std::string& message)
    {
        d_->warnings.push_back("line " + std::to_string(line_) + ": " + message);
    }

    // The words of a section up to its $end.
    bool Section(const std::string& keyword, std::vector<std::string>* words)
    {
        Token t;
        while (tok_.Next(&t)) {
            if (t.text == "$end")
                return true;
            words->push_back(t.text);
        }
        return Fail(keyword + " without $end");
    }

    bool Token1(const Token& t)
    {
        const std::string& s = t.text;
        if (s[0] == '$')
            return Keyword(s);
        if (!definitionsDone_)
            return Fail("\"" + s + "\" among the declarations");
        if (s[0] == '#')
            return Time(s.substr(1));
        return Change(s);
    }

    bool Keyword(const std::string& k)
    {
        if (k == "$dumpvars" || k == "$dumpon" || k == "$dumpoff" || k == "$dumpall")
            return true;
        if (k == "$end")
            return true;  // closes one of the dump sections above
        std::vector<std::string> words;
        if (!Section(k, &words))
            return false;
        if (k == "$timescale")
            return Timescale(words);
        if (k == "$scope") {
            if (words.size() != 2)
                return Fail("$scope needs a type and a name");
            w_->BeginScope(words[1]);
            ++depth_;
            return true;
        }
        if (k == "$upscope") {
            if (depth_ == 0)
                return Fail("$upscope without an open scope");
            w_->EndScope();
            --depth_;
            return true;
        }
        if (k == "$var")
            return Var(words);
        if (k == "$enddefinitions") {
            definitionsDone_ = true;
            return true;
        }
        if (k != "$comment" && k != "$date" && k != "$version")
            Warn("unknown section " + k + " skipped");
        return true;
    }

    bool Timescale(const std::vector<std::string>& words)
    {
        std::string text;
        for (const std::string& w : words)
            text += w;
        size_t digits = text.find_first_not_of("0123456789");
        std::string number = text.substr(0, digits);
        std::string unit = digits == std::string::npos ? "" : text.substr(digits);
        static const std::set<std::string> units = {"s", "ms", "us", "ns", "ps", "fs"};
        if ((number != "1" && number != "10" && number != "100") || !units.count(unit))
            return Fail("bad $timescale \"" + text + "\"");
        w_->SetTimeUnit(text);
        return true;
    }

    bool Var(const std::vector<std::string>& words)
    {
        if (words.size() < 4 || words.size() > 5)
            return Fail("$var needs a type, size, code and reference");
        uint32_t width = 0;
        for (char c : words[1])
            if (!std::isdigit(static_cast<unsigned char>(c)) || width > 100000000)
                return Fail("bad $var size \"" + words[1] + "\"");
            else
                width = width * 10 + static_cast<uint32_t>(c - '0');
        const std::string& code = words[2];
        const std::string name = words.size() == 5 ? words[3] + words[4] : words[3];
        if (words[0] == "real" || words[0] == "realtime") {
            Warn("real variable \"" + name + "\" skipped: file type 0 holds no reals");
            skipped_.insert(code);
            return true;
        }
        auto it = vars_.find(code);
        if (it != vars_.end()) {
            if (it->second.width != width)
                return Fail("code \"" + code + "\" declared with two sizes");
            w_->AddAlias(name, it->second.idcode);
            return true;
        }
        vars_[code] = {w_->AddVar(name, 0, width), width};
        return true;
    }

    bool Time(const std::string& text)
    {
        uint64_t v = 0;
        if (text.empty())
            return Fail("bad time \"#\"");
        for (char c : text) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || v > (UINT64_MAX - 9) / 10)
                return Fail("bad time \"#" + text + "\"");
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (v < time_)
            return Fail("time #" + text + " before the previous time");
        time_ = v;
        return true;
    }

    static bool IsBit(char c) { return std::strchr("01xXzZ", c) != nullptr; }

    bool Change(const std::string& s)
    {
        std::string bits, code;
        const char kind = s[0];
        if (kind == 'b' || kind == 'B' || kind == 'r' || kind == 'R') {
            Token t;
            if (!tok_.Next(&t))
                return Fail("value \"" + s + "\" without a code");
            code = t.text;
            if (kind == 'r' || kind == 'R') {
                if (skipped_.count(code))
                    return true;
                return Fail("real value for \"" + code + "\", which is not a real variable");
            }
            bits = s.substr(1);
            if (bits.empty())
                return Fail("empty vector value");
        } else if (IsBit(kind) && s.size() > 1) {
            bits = s.substr(0, 1);
            code = s.substr(1);
        } else {
            return Fail("bad value change \"" + s + "\"");
        }
        for (char c : bits)
            if (!IsBit(c))
                return Fail("bad bit '" + std::string(1, c) + "' in \"" + s + "\"");
        if (skipped_.count(code))
            return true;
        auto it = vars_.find(code);
        if (it == vars_.end())
            return Fail("unknown code \"" + code + "\"");
        const uint32_t width = it->second.width;
        if (bits.size() > width)
            return Fail("value \"" + bits + "\" wider than its " + std::to_string(width) + " bits");
        // Shorter values are extended on the left: 0 and 1 with 0, x and z with themselves.
        const char lead = bits[0] == '1' ? '0' : bits[0];
        bits.insert(0, width - bits.size(), lead);
        w_->AddBits(it->second.idcode, time_, bits);
        return true;
    }

    Tokenizer tok_;
    nffr::FileWriter* w_;
    Diagnostics* d_;
    int line_ = 0;
    int depth_ = 0;
    bool definitionsDone_ = false;
    uint64_t time_ = 0;
    std::map<std::string, VcdVar> vars_;
    std::set<std::string> skipped_;
};

}  // namespace

bool ImportVcd(std::istream& in, nffr::FileWriter* writer, Diagnostics* diag)
{
    return VcdImporter(in, writer, diag).Run();
}

}  // namespace fsdbgen

// description.cpp: reads fsdbgen's line-oriented text description into a FileWriter.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "import.h"

namespace fsdbgen {
namespace {

bool ParseU64(const std::string& text, uint64_t* out)
{
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    *out = v;
    return true;
}

bool ParseU32(const std::string& text, uint32_t* out)
{
    uint64_t v = 0;
    if (!ParseU64(text, &v) || v > UINT32_MAX)
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// Splits off the first blank-separated word of rest; rest keeps what follows the blanks.
std::string NextWord(std::string* rest)
{
    size_t start = rest->find_first_not_of(" \t");
    if (start == std::string::npos) {
        rest->clear();
        return std::string();
    }
    size_t end = rest->find_first_of(" \t", start);
    std::string word =
        rest->substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t next =
        end == std::string::npos ? std::string::npos : rest->find_first_not_of(" \t", end);
    *rest = next == std::string::npos ? std::string() : rest->substr(next);
    return word;
}

struct PendingChange {
    int line;
    int idcode;
    uint64_t tag;
    std::string value;
};

class DescriptionReader {
public:
    DescriptionReader(nffr::FileWriter* w, Diagnostics* d) : w_(w), d_(d) {}

    bool Line(int number, std::string text)
    {
        line_ = number;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos || text[first] == '#')
            return true;
        std::string rest = text.substr(first);
        if (rest[0] >= '0' && rest[0] <= '9')
            return Change(rest);
        std::string keyword = NextWord(&rest);
        if (keyword == "type")
            return Type(rest);
        if (keyword == "unit")
            return Unit(rest);
        if (keyword == "end")
            return End(rest);
        if (keyword == "stamp")
            return Stamp(rest);
        if (keyword == "scope")
            return Scope(rest);
        if (keyword == "upscope")
            return Upscope(rest);
        if (keyword == "var")
            return Var(rest);
        return Fail("unknown keyword \"" + keyword + "\"");
    }

    // Value texts are read once the file type is known.
    bool Finish()
    {
        if (depth_ > 0)
            d_->warnings.push_back("end of input: " + std::to_string(depth_) +
                                   " scopes left open; closed");
        for (const PendingChange& c : changes_) {
            line_ = c.line;
            if (!Value(c))
                return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& message)
    {
        d_->error = "line " + std::to_string(line_) + ": " + message;
        return false;
    }

    bool Type(const std::string& rest)
    {
        std::string text = rest;
        std::string word = NextWord(&text);
        bool negative = !word.empty() && word[0] == '-';
        uint64_t v = 0;
        if (!text.empty() || !ParseU64(negative ? word.substr(1) : word, &v) ||
            (negative ? v > 2147483648ull : v > UINT32_MAX))
            return Fail("type needs a 32-bit integer");
        fileType_ =
            negative ? static_cast<uint32_t>(-static_cast<int64_t>(v)) : static_cast<uint32_t>(v);
        w_->SetFileType(fileType_);
        return true;
    }

    bool Unit(const std::string& rest)
    {
        if (rest.empty() || rest.size() > 127)
            return Fail("unit needs a text of 1 to 127 characters");
        w_->SetTimeUnit(rest);
        return true;
    }

    bool End(const std::string& rest)
    {
        uint64_t v = 0;
        if (!ParseU64(rest, &v))
            return Fail("end needs an unsigned 64-bit number");
        w_->SetEndTag(v);
        return true;
    }

    bool Stamp(const std::string& rest)
    {
        if (rest.size() > 2047)
            return Fail("stamp longer than 2047 characters");
        w_->SetStamp(rest);
        return true;
    }

    bool Scope(const std::string& rest)
    {
        if (rest.empty())
            return Fail("scope needs a name");
        w_->BeginScope(rest);
        ++depth_;
        return true;
    }

    bool Upscope(const std::string& rest)
    {
        if (!rest.empty())
            return Fail("upscope takes nothing after it");
        if (depth_ == 0)
            return Fail("upscope without an open scope");
        w_->EndScope();
        --depth_;
        return true;
    }

    bool Var(std::string rest)
    {
        const std::string type = NextWord(&rest);
        uint32_t varType = 0;
        if (type.size() > 1 && type[0] == '#') {
            if (!ParseU32(type.substr(1), &varType) || varType > 255)
                return Fail("variable type #N needs N in 0..255");
        } else if (type.size() == 1 && type[0] != '#' && !(type[0] >= '0' && type[0] <= '9')) {
            varType = static_cast<unsigned char>(type[0]);
        } else {
            return Fail("bad variable type \"" + type + "\"");
        }
        uint32_t bits = 0;
        if (!ParseU32(NextWord(&rest), &bits))
            return Fail("var needs a bit size");
        int id = 0;
        uint8_t dataType = 3;
        std::string count = "exact";
        for (;;) {
            std::string probe = rest;
            std::string word = NextWord(&probe);
            uint32_t n = 0;
            if (word.rfind("id=", 0) == 0) {
                if (!ParseU32(word.substr(3), &n) || n == 0 || n > INT32_MAX)
                    return Fail("id needs a positive 32-bit number");
                id = static_cast<int>(n);
            } else if (word.rfind("data=", 0) == 0) {
                std::string v = word.substr(5);
                if (v != "float" && v != "double")
                    return Fail("data must be float or double");
                dataType = v == "float" ? 2 : 3;
            } else if (word.rfind("count=", 0) == 0) {
                count = word.substr(6);
                if (count != "exact" && count != "unknown" && !ParseU32(count, &n))
                    return Fail("count must be exact, unknown or a number");
            } else {
                break;
            }
            rest = probe;
        }
        if (rest.empty())
            return Fail("var needs a name");
        if (id != 0 && w_->HasVar(id)) {
            w_->AddAlias(rest, id);
            current_ = id;
            return true;
        }
        current_ = w_->AddVar(rest, static_cast<uint8_t>(varType), bits, dataType, id);
        bits_[current_] = bits;
        uint32_t n = 0;
        if (count == "unknown")
            w_->SetCountUnknown(current_);
        else if (count != "exact" && ParseU32(count, &n))
            w_->SetRecordedCount(current_, n);
        return true;
    }

    bool Change(std::string rest)
    {
        if (current_ == 0)
            return Fail("a value change before any var");
        uint64_t tag = 0;
        if (!ParseU64(NextWord(&rest), &tag))
            return Fail("bad tag");
        if (rest.empty())
            return Fail("a change needs a value");
        uint64_t& last = lastTag_[current_];
        if (tag < last)
            return Fail("tag " + std::to_string(tag) + " before the previous change");
        last = tag;
        changes_.push_back({line_, current_, tag, rest});
        return true;
    }

    bool Value(const PendingChange& c)
    {
        std::string value = c.value;
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (w_->HoldsReals(c.idcode)) {
            errno = 0;
            char* end = nullptr;
            double v = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0')
                return Fail("bad real value \"" + value + "\"");
            w_->AddReal(c.idcode, c.tag, v);
            return true;
        }
        const uint32_t bits = bits_[c.idcode];
        if (value.rfind("bytes:", 0) == 0) {
            std::vector<uint8_t> bytes;
            std::stringstream list(value.substr(6));
            std::string item;
            while (std::getline(list, item, ',')) {
                uint32_t b = 0;
                if (!ParseU32(item, &b) || b > 255)
                    return Fail("bad byte \"" + item + "\"");
                bytes.push_back(static_cast<uint8_t>(b));
            }
            if (bytes.size() != bits)
                return Fail(std::to_string(bytes.size()) + " bytes for a " + std::to_string(bits) +
                            "-bit variable");
            w_->AddChange(c.idcode, c.tag, bytes);
            return true;
        }
        if (value.size() != bits || value.find_first_not_of("01xzXZ") != std::string::npos)
            return Fail("value \"" + value + "\" is not " + std::to_string(bits) +
                        " characters of 0 1 x z");
        w_->AddBits(c.idcode, c.tag, value);
        return true;
    }

    nffr::FileWriter* w_;
    Diagnostics* d_;
    int line_ = 0;
    int depth_ = 0;
    int current_ = 0;
    uint32_t fileType_ = 1;
    std::map<int, uint32_t> bits_;
    std::map<int, uint64_t> lastTag_;
    std::vector<PendingChange> changes_;
};

}  // namespace

bool ReadDescription(std::istream& in, nffr::FileWriter* writer, Diagnostics* diag)
{
    DescriptionReader reader(writer, diag);
    std::string text;
    for (int number = 1; std::getline(in, text); ++number)
        if (!reader.Line(number, text))
            return false;
    return reader.Finish();
}

}  // namespace fsdbgen

// condition.cpp: the condition language: a recursive-descent parser, three-valued evaluation
// (0, 1, unknown) over the values in force, and the walk over the signals' changes that finds
// where a condition becomes true.
#include "condition.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vexa::condition {

using analysis::kNone;
using analysis::Ticks;

namespace {

// A value: logic bits (most significant first; anything but 0 and 1 is unknown or floating) or
// a real, whose NaN stands for an unknown one.
struct Value {
    bool real = false;
    std::string bits;
    double number = 0;
};

Value Bits(std::string bits)
{
    Value v;
    v.bits = std::move(bits);
    return v;
}

enum Truth { kFalse, kTrue, kUnknown };

Value FromTruth(Truth t)
{
    return Bits(t == kTrue ? "1" : (t == kFalse ? "0" : "X"));
}

Truth TruthOf(const Value& v)
{
    if (v.real) {
        return std::isnan(v.number) ? kUnknown : (v.number != 0 ? kTrue : kFalse);
    }
    if (v.bits.find('1') != std::string::npos) {
        return kTrue;
    }
    return v.bits.find_first_not_of('0') == std::string::npos ? kFalse : kUnknown;
}

bool Known(const std::string& bits)
{
    return bits.find_first_not_of("01") == std::string::npos;
}

double ToNumber(const Value& v)
{
    if (v.real) {
        return v.number;
    }
    if (!Known(v.bits)) {
        return std::nan("");
    }
    double n = 0;
    for (char c : v.bits) {
        n = n * 2 + (c - '0');
    }
    return n;
}

// -1, 0, 1, or 2 when either side is unknown.
int Order(const Value& a, const Value& b)
{
    if (a.real || b.real) {
        double x = ToNumber(a), y = ToNumber(b);
        return std::isnan(x) || std::isnan(y) ? 2 : (x < y ? -1 : (x > y ? 1 : 0));
    }
    if (!Known(a.bits) || !Known(b.bits)) {
        return 2;
    }
    std::size_t za = std::min(a.bits.find('1'), a.bits.size());
    std::size_t zb = std::min(b.bits.find('1'), b.bits.size());
    std::size_t la = a.bits.size() - za, lb = b.bits.size() - zb;
    if (la != lb) {
        return la < lb ? -1 : 1;
    }
    int c = a.bits.compare(za, la, b.bits, zb, lb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

enum class Op {
    kName,
    kNumber,
    kNot,
    kAnd,
    kOr,
    kEq,
    kNe,
    kLt,
    kLe,
    kGt,
    kGe,
    kRise,
    kFall,
    kIsX,
    kIsZ
};

struct Node {
    Op op = Op::kNumber;
    std::size_t position = 0;
    std::size_t ref = 0;
    Value literal;
    std::unique_ptr<Node> a, b;
};

namespace {

bool IsNameStart(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '/' || c == '$';
}

bool IsNameChar(char c)
{
    return IsNameStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '.';
}

}  // namespace

bool SplitSelect(const std::string& text, std::string* base, int* msb, int* lsb)
{
    std::size_t open = text.rfind('[');
    if (text.empty() || text.back() != ']' || open == std::string::npos || open == 0) {
        return false;
    }
    std::string inside = text.substr(open + 1, text.size() - open - 2);
    std::size_t colon = inside.find(':');
    std::string high = inside.substr(0, colon);
    std::string low = colon == std::string::npos ? high : inside.substr(colon + 1);
    auto number = [](const std::string& s, int* out) {
        if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        *out = std::atoi(s.c_str());
        return true;
    };
    *base = text.substr(0, open);
    return number(high, msb) && number(low, lsb);
}

namespace {

class Parser {
public:
    Parser(const std::string& text, std::vector<Reference>* references)
        : text_(text), references_(references)
    {
    }

    std::unique_ptr<Node> Parse(Error* error)
    {
        error_ = error;
        std::unique_ptr<Node> root = Or();
        Skip();
        if (root && pos_ < text_.size()) {
            Fail(pos_, "expected &&, || or the end, found \"" + Word() + "\"");
            return nullptr;
        }
        return failed_ ? nullptr : std::move(root);
    }

private:
    void Skip()
    {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
    }

    bool Accept(const char* token)
    {
        Skip();
        std::size_t n = std::strlen(token);
        if (text_.compare(pos_, n, token) == 0) {
            pos_ += n;
            return true;
        }
        return false;
    }

    // The token at the position, for messages.
    std::string Word() const
    {
        if (pos_ >= text_.size()) {
            return "the end";
        }
        std::size_t end = pos_ + 1;
        while (end < text_.size() && IsNameChar(text_[pos_]) && IsNameChar(text_[end])) {
            ++end;
        }
        return text_.substr(pos_, end - pos_);
    }

    std::nullptr_t Fail(std::size_t at, const std::string& message)
    {
        if (!failed_) {
            error_->position = at + 1;
            error_->message = message;
        }
        failed_ = true;
        return nullptr;
    }

    std::unique_ptr<Node> Make(Op op, std::size_t at, std::unique_ptr<Node> a,
                               std::unique_ptr<Node> b = nullptr)
    {
        auto node = std::make_unique<Node>();
        node->op = op;
        node->position = at;
        node->a = std::move(a);
        node->b = std::move(b);
        return node;
    }

    std::unique_ptr<Node> Or()
    {
        std::unique_ptr<Node> left = And();
        for (std::size_t at = pos_; left && Accept("||"); at = pos_) {
            std::unique_ptr<Node> right = And();
            left = right ? Make(Op::kOr, at, std::move(left), std::move(right)) : nullptr;
        }
        return left;
    }

    std::unique_ptr<Node> And()
    {
        std::unique_ptr<Node> left = Comparison();
        for (std::size_t at = pos_; left && Accept("&&"); at = pos_) {
            std::unique_ptr<Node> right = Comparison();
            left = right ? Make(Op::kAnd, at, std::move(left), std::move(right)) : nullptr;
        }
        return left;
    }

    std::unique_ptr<Node> Comparison()
    {
        static const struct {
            const char* token;
            Op op;
        } kOps[] = {{"==", Op::kEq}, {"!=", Op::kNe}, {"<=", Op::kLe},
                    {">=", Op::kGe}, {"<", Op::kLt},  {">", Op::kGt}};
        std::unique_ptr<Node> left = Unary();
        for (int round = 0; left; ++round) {
            Skip();
            std::size_t at = pos_;
            const auto* found = std::find_if(std::begin(kOps), std::end(kOps),
                                             [this](const auto& o) { return Accept(o.token); });
            if (found == std::end(kOps)) {
                return left;
            }
            if (round > 0) {
                return Fail(at, "comparisons do not chain: join them with && or ||");
            }
            std::unique_ptr<Node> right = Unary();
            left = right ? Make(found->op, at, std::move(left), std::move(right)) : nullptr;
        }
        return left;
    }

    std::unique_ptr<Node> Unary()
    {
        Skip();
        std::size_t at = pos_;
        if (text_.compare(pos_, 2, "!=") != 0 && Accept("!")) {
            std::unique_ptr<Node> operand = Unary();
            return operand ? Make(Op::kNot, at, std::move(operand)) : nullptr;
        }
        return Primary();
    }

    std::unique_ptr<Node> Primary()
    {
        Skip();
        std::size_t at = pos_;
        if (Accept("(")) {
            std::unique_ptr<Node> inner = Or();
            if (inner && !Accept(")")) {
                return Fail(pos_, "expected \")\", found \"" + Word() + "\"");
            }
            return inner;
        }
        if (pos_ < text_.size() &&
            (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '-')) {
            return Number();
        }
        if (pos_ >= text_.size() || !IsNameStart(text_[pos_])) {
            return Fail(at,
                        "expected a signal, a number, \"(\" or \"!\", found \"" + Word() + "\"");
        }
        std::string name = Name();
        Skip();
        if (pos_ < text_.size() && text_[pos_] == '(') {
            return Call(name, at);
        }
        return NameNode(name, at);
    }

    // A name: name characters, and bracketed indices ([3], [7:0]) as part of it.
    std::string Name()
    {
        std::size_t start = pos_;
        while (pos_ < text_.size()) {
            if (IsNameChar(text_[pos_])) {
                ++pos_;
            } else if (text_[pos_] == '[') {
                std::size_t close = text_.find(']', pos_);
                if (close == std::string::npos) {
                    return text_.substr(start, pos_ - start);
                }
                pos_ = close + 1;
            } else {
                break;
            }
        }
        return text_.substr(start, pos_ - start);
    }

    std::unique_ptr<Node> NameNode(const std::string& name, std::size_t at)
    {
        auto node = Make(Op::kName, at, nullptr);
        std::size_t r = 0;
        while (r < references_->size() && (*references_)[r].text != name) {
            ++r;
        }
        if (r == references_->size()) {
            Reference reference;
            reference.text = name;
            reference.position = at + 1;
            reference.hasSelect =
                SplitSelect(name, &reference.base, &reference.msb, &reference.lsb);
            references_->push_back(reference);
        }
        node->ref = r;
        return node;
    }

    std::unique_ptr<Node> Call(const std::string& name, std::size_t at)
    {
        static const struct {
            const char* name;
            Op op;
        } kFunctions[] = {
            {"rise", Op::kRise}, {"fall", Op::kFall}, {"isx", Op::kIsX}, {"isz", Op::kIsZ}};
        const auto* found = std::find_if(std::begin(kFunctions), std::end(kFunctions),
                                         [&name](const auto& f) { return name == f.name; });
        if (found == std::end(kFunctions)) {
            return Fail(at, "unknown function \"" + name + "\": must be rise, fall, isx or isz");
        }
        Accept("(");
        Skip();
        std::size_t argument = pos_;
        std::unique_ptr<Node> inner = Or();
        if (!inner) {
            return nullptr;
        }
        if ((found->op == Op::kRise || found->op == Op::kFall) && inner->op != Op::kName) {
            return Fail(argument, std::string(found->name) + "() takes a signal");
        }
        if (!Accept(")")) {
            return Fail(pos_, "expected \")\", found \"" + Word() + "\"");
        }
        return Make(found->op, at, std::move(inner));
    }

    std::unique_ptr<Node> Number()
    {
        std::size_t at = pos_;
        bool negative = text_[pos_] == '-';
        pos_ += negative ? 1 : 0;
        std::size_t end = pos_;
        while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) ||
                                      text_[end] == '_' || text_[end] == '.' ||
                                      ((text_[end] == '-' || text_[end] == '+') &&
                                       (text_[end - 1] == 'e' || text_[end - 1] == 'E')))) {
            ++end;
        }
        std::string word = text_.substr(pos_, end - pos_);
        pos_ = end;
        auto node = Make(Op::kNumber, at, nullptr);
        if (!Literal(word, negative, &node->literal)) {
            return Fail(at, "bad number \"" + text_.substr(at, end - at) +
                                "\": write 200, 0xc8, 0b11001000 or a real such as 1.5e-3");
        }
        return node;
    }

    static bool Literal(std::string word, bool negative, Value* out)
    {
        word.erase(std::remove(word.begin(), word.end(), '_'), word.end());
        std::string prefix = word.substr(0, 2);
        if (!negative && (prefix == "0x" || prefix == "0X" || prefix == "0b" || prefix == "0B")) {
            bool hex = prefix[1] == 'x' || prefix[1] == 'X';
            std::string digits = word.substr(2);
            if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "01") !=
                                      std::string::npos) {
                return false;
            }
            for (char c : digits) {
                int d = hex ? std::stoi(std::string(1, c), nullptr, 16) : c - '0';
                for (int bit = hex ? 3 : 0; bit >= 0; --bit) {
                    out->bits += ((d >> bit) & 1) ? '1' : '0';
                }
            }
            return true;
        }
        if (word.empty() || !std::isdigit(static_cast<unsigned char>(word[0]))) {
            return false;
        }
        bool whole = word.find_first_not_of("0123456789") == std::string::npos;
        char* stop = nullptr;
        errno = 0;
        if (whole && !negative) {
            unsigned long long n = std::strtoull(word.c_str(), &stop, 10);
            if (errno != 0) {
                return false;
            }
            for (; n > 0; n >>= 1) {
                out->bits.insert(out->bits.begin(), (n & 1) ? '1' : '0');
            }
            out->bits = out->bits.empty() ? "0" : out->bits;
            return true;
        }
        out->real = true;
        out->number = std::strtod(word.c_str(), &stop);
        out->number = negative ? -out->number : out->number;
        return *stop == '\0' && errno == 0;
    }

    const std::string& text_;
    std::vector<Reference>* references_;
    std::size_t pos_ = 0;
    bool failed_ = false;
    Error* error_ = nullptr;
};

}  // namespace

Expression::Expression() = default;
Expression::~Expression() = default;

bool Expression::Parse(const std::string& text, Error* error)
{
    references_.clear();
    bound_.clear();
    Parser parser(text, &references_);
    root_ = parser.Parse(error);
    bound_.resize(references_.size());
    return root_ != nullptr;
}

bool Expression::Bind(std::size_t r, const Signal& signal, bool select, Error* error)
{
    const Reference& reference = references_[r];
    int msb = reference.msb - signal.lowest, lsb = reference.lsb - signal.lowest;
    bound_[r] = Bound{signal, select, msb, lsb};
    if (!select) {
        return true;
    }
    error->position = reference.position;
    if (signal.kind != Kind::kLogic) {
        error->message = "\"" + signal.name + "\" has no bits to select";
        return false;
    }
    if (reference.msb < reference.lsb) {
        error->message = "write the select of \"" + reference.text + "\" high bit first";
        return false;
    }
    if (lsb < 0 || msb >= signal.width) {
        error->message = "\"" + reference.text + "\" selects bits outside \"" + signal.name +
                         "\" (" + std::to_string(signal.width) + " bits from index " +
                         std::to_string(signal.lowest) + ")";
        return false;
    }
    return true;
}

namespace {

struct Checker {
    const std::vector<Reference>& references;
    const std::function<const Signal&(std::size_t)> signal;
    const std::function<int(std::size_t)> width;
    Error* error;

    bool Fail(const Node& node, const std::string& message) const
    {
        error->position = node.position + 1;
        error->message = message;
        return false;
    }

    bool Walk(const Node& node, bool compared) const
    {
        if (node.op == Op::kName) {
            if (compared && signal(node.ref).kind == Kind::kEvent) {
                return Fail(node, "\"" + references[node.ref].text +
                                      "\" is an event: it stands alone, true where it occurs");
            }
            return true;
        }
        if (node.op == Op::kRise || node.op == Op::kFall) {
            const Node& operand = *node.a;
            if (signal(operand.ref).kind != Kind::kLogic || width(operand.ref) != 1) {
                return Fail(operand, std::string(node.op == Op::kRise ? "rise" : "fall") +
                                         "() needs a one-bit signal: \"" +
                                         references[operand.ref].text + "\" is not one");
            }
            return true;
        }
        bool comparison = node.op >= Op::kEq && node.op <= Op::kGe;
        bool inner = comparison || node.op == Op::kIsX || node.op == Op::kIsZ;
        return (!node.a || Walk(*node.a, inner)) && (!node.b || Walk(*node.b, inner));
    }
};

}  // namespace

bool Expression::Check(Error* error) const
{
    auto signal = [this](std::size_t r) -> const Signal& { return bound_[r].signal; };
    auto width = [this](std::size_t r) {
        return bound_[r].select ? bound_[r].msb - bound_[r].lsb + 1 : bound_[r].signal.width;
    };
    Checker checker{references_, signal, width, error};
    return checker.Walk(*root_, false);
}

namespace {

// One name's signal during a walk: the sample in force now and before this instant.
struct Cursor {
    analysis::Walk walk;
    std::size_t now = kNone, before = kNone;
    bool changed = false;
};

struct Evaluator {
    const std::vector<Reference>& references;
    const std::vector<Cursor>& cursors;
    const std::function<const Expression::Bound&(std::size_t)> bound;
    const std::function<const Signal&(std::size_t)> signal;
    bool instant = true;

    Value Read(std::size_t r, std::size_t sample) const
    {
        const Signal& s = signal(r);
        if (s.kind == Kind::kReal) {
            Value v;
            v.real = true;
            v.number = sample == kNone ? std::nan("") : s.view->y(sample);
            return v;
        }
        std::string bits = sample == kNone ? std::string(s.width, 'X') : s.view->value(sample);
        if (static_cast<int>(bits.size()) < s.width) {
            // A short text extends as a VCD vector does: with X or Z when it leads with one.
            char lead = !bits.empty() && (bits[0] == 'X' || bits[0] == 'Z') ? bits[0] : '0';
            bits.insert(0, s.width - bits.size(), lead);
        }
        if (bound(r).select) {
            bits = bits.substr(bits.size() - 1 - bound(r).msb, bound(r).msb - bound(r).lsb + 1);
        }
        return Bits(bits);
    }

    Value Eval(const Node& node) const
    {
        switch (node.op) {
        case Op::kNumber: return node.literal;
        case Op::kName: {
            const Cursor& c = cursors[node.ref];
            if (signal(node.ref).kind == Kind::kEvent) {
                return FromTruth(instant && c.changed ? kTrue : kFalse);
            }
            return Read(node.ref, c.now);
        }
        case Op::kNot: {
            Truth t = TruthOf(Eval(*node.a));
            return FromTruth(t == kUnknown ? kUnknown : (t == kTrue ? kFalse : kTrue));
        }
        case Op::kAnd:
        case Op::kOr: {
            Truth stop = node.op == Op::kAnd ? kFalse : kTrue;
            Truth left = TruthOf(Eval(*node.a));
            if (left == stop) {
                return FromTruth(stop);
            }
            Truth right = TruthOf(Eval(*node.b));
            return FromTruth(
                right == stop ? stop : (left == kUnknown || right == kUnknown ? kUnknown : right));
        }
        case Op::kRise:
        case Op::kFall: {
            const Cursor& c = cursors[node.a->ref];
            if (!instant || !c.changed) {
                return FromTruth(kFalse);
            }
            std::string from = Read(node.a->ref, c.before).bits, to = Read(node.a->ref, c.now).bits;
            bool rise = node.op == Op::kRise;
            return FromTruth(from == (rise ? "0" : "1") && to == (rise ? "1" : "0") ? kTrue
                                                                                    : kFalse);
        }
        case Op::kIsX:
        case Op::kIsZ: {
            Value v = Eval(*node.a);
            bool hit = v.real ? node.op == Op::kIsX && std::isnan(v.number)
                              : v.bits.find_first_of(node.op == Op::kIsX ? "XxUu-" : "Zz") !=
                                    std::string::npos;
            return FromTruth(hit ? kTrue : kFalse);
        }
        default: break;
        }
        int order = Order(Eval(*node.a), Eval(*node.b));
        if (order == 2) {
            return FromTruth(kUnknown);
        }
        bool holds = false;
        switch (node.op) {
        case Op::kEq: holds = order == 0; break;
        case Op::kNe: holds = order != 0; break;
        case Op::kLt: holds = order < 0; break;
        case Op::kLe: holds = order <= 0; break;
        case Op::kGt: holds = order > 0; break;
        default: holds = order >= 0; break;
        }
        return FromTruth(holds ? kTrue : kFalse);
    }
};

bool HasInstants(const Node& node, const std::function<const Signal&(std::size_t)>& signal)
{
    if (node.op == Op::kRise || node.op == Op::kFall ||
        (node.op == Op::kName && signal(node.ref).kind == Kind::kEvent)) {
        return true;
    }
    return (node.a && HasInstants(*node.a, signal)) || (node.b && HasInstants(*node.b, signal));
}

}  // namespace

void Expression::Matches(int grid, const analysis::Window& window, bool skipStart,
                         const std::function<bool(Ticks)>& sink) const
{
    std::vector<Cursor> cursors;
    for (const Bound& b : bound_) {
        cursors.push_back(Cursor{analysis::Walk(*b.signal.view, grid)});
    }
    auto next = [&cursors](Ticks* t) {
        bool any = false;
        for (const Cursor& c : cursors) {
            if (!c.walk.Done() && (!any || c.walk.Time() < *t)) {
                *t = c.walk.Time();
                any = true;
            }
        }
        return any;
    };
    Ticks t = window.from;
    if (window.hasFrom) {
        for (Cursor& c : cursors) {
            c.now = c.walk.SkipTo(window.from - 1);
        }
    } else if (!next(&t)) {
        return;
    }
    auto signal = [this](std::size_t r) -> const Signal& { return bound_[r].signal; };
    Evaluator eval{references_, cursors,
                   [this](std::size_t r) -> const Bound& { return bound_[r]; }, signal};
    bool instants = HasInstants(*root_, signal);
    bool before = false;  // whether the condition held just before t
    for (;;) {
        if (window.hasTo && t > window.to) {
            return;
        }
        for (Cursor& c : cursors) {
            c.before = c.now;
            c.changed = !c.walk.Done() && c.walk.Time() == t;
            c.now = c.changed ? c.walk.Step() : c.now;
        }
        eval.instant = true;
        bool now = TruthOf(eval.Eval(*root_)) == kTrue;
        if (now && !before && !(skipStart && window.hasFrom && t == window.from) && !sink(t)) {
            return;
        }
        eval.instant = false;
        before = instants ? TruthOf(eval.Eval(*root_)) == kTrue : now;
        if (!next(&t)) {
            return;
        }
    }
}

}  // namespace vexa::condition

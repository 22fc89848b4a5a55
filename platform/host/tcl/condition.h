// condition.h: conditions over signals (top/state == 3 && rise(top/clk)): their parser, the
// binding of the names they use to waveforms, and the times at which they become true. Pure
// functions over draw::SampleView, no Tcl.
#ifndef VEXA_CONDITION_H
#define VEXA_CONDITION_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "compare.h"

namespace vexa::condition {

// A message about the character at position (1 for the first).
struct Error {
    std::size_t position = 0;
    std::string message;
};

// A name as written. When it ends in a select ([7:0] or [3]), base is the name before it, and
// msb/lsb the bits it selects; the binder decides whether the whole text names a signal (a bus
// "q[7:0]") or base does.
struct Reference {
    std::string text;
    std::size_t position = 0;
    bool hasSelect = false;
    std::string base;
    int msb = 0, lsb = 0;
};

// What a name is bound to.
enum class Kind { kLogic, kReal, kEvent };
struct Signal {
    const draw::SampleView* view = nullptr;
    Kind kind = Kind::kLogic;
    int width = 1;
    std::string name;  // its path, for messages
    int lowest = 0;    // the index of its least significant bit as declared (q[8:1]: 1)
};

// Splits "q[7:0]" or "q[3]" into its base and bits; false when TEXT has no such ending.
bool SplitSelect(const std::string& text, std::string* base, int* msb, int* lsb);

struct Node;

class Expression {
public:
    Expression();
    ~Expression();
    Expression(const Expression&) = delete;
    Expression& operator=(const Expression&) = delete;

    bool Parse(const std::string& text, Error* error);
    // The distinct names, in the order of first use.
    const std::vector<Reference>& References() const { return references_; }
    // Binds reference r to a signal, read whole or through its select (indices counted from
    // signal.lowest); false with a message at the name's first use when the select does not fit.
    // Check after every reference is bound.
    bool Bind(std::size_t r, const Signal& signal, bool select, Error* error);
    // False with a message where an operand does not fit its operator (an edge of a vector, a
    // comparison of an event).
    bool Check(Error* error) const;

    // The times at which the condition becomes true within the window, in order: at the window's
    // start when it holds there (or, without a start, at the first change), then wherever it
    // turns from not true to true. Edges and events are true at their instant only. A time
    // equal to `after` is not reported (the window starting there). Stops when sink returns false.
    void Matches(int grid, const analysis::Window& window, bool skipStart,
                 const std::function<bool(analysis::Ticks)>& sink) const;

    // What a reference reads.
    struct Bound {
        Signal signal;
        bool select = false;
        int msb = 0, lsb = 0;  // the selected bits, 0 the least significant
    };

private:
    std::unique_ptr<Node> root_;
    std::vector<Reference> references_;
    std::vector<Bound> bound_;
};

}  // namespace vexa::condition

#endif

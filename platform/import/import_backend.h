// import_backend.h: what every dump import shares once its front-end (VCD, FST) has read a
// declaration or a value: variables by kind, the main file of type 0 and its analog companion
// of type 1, the changes of each signal, messages, and the files written at the end.
#ifndef IMPORT_BACKEND_H
#define IMPORT_BACKEND_H

#include <deque>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "import.h"
#include "nffr_memory.h"
#include "nffr_stream_writer.h"
#include "nffr_threads.h"
#include "vcd_stream.h"

namespace fsdbgen {

enum class Kind : uint8_t { Logic, Real, Event, Skipped };
enum Part : uint8_t { kDigital = 0, kAnalog = 1 };

// What every change reads and writes, in 32 bytes: two signals to a cache line, so that the
// records of a large design stay in the cache. The rest of a signal is its SignalRest.
struct alignas(32) Signal {
    Kind kind = Kind::Logic;
    Part part = kDigital;
    uint32_t width = 0;
    uint32_t count = 0;
    uint32_t stepSerial = UINT32_MAX;
    uint32_t countAtStep = 0;
    int idcode = 0;
    uint32_t index = 0;  // its number, and that of its SignalRest
};

// The rest of a signal: its changes as layout 1 keeps them, and its first declaration.
struct SignalRest {
    explicit SignalRest(ChunkPool* pool) : tags(pool), values(pool) {}
    Chain tags;
    Chain values;
    uint32_t scope = 0;  // the number of the scope of its first declaration
    std::string name;
};

// One output file: its writer, the scopes opened in it so far, and its signals by idcode. Layout 2
// streams the changes to its file as they come; layout 1 keeps them for the writer at the end.
struct OutFile {
    nffr::FileWriter writer;                     // layout 1
    std::unique_ptr<nffr::StreamWriter> stream;  // layout 2
    template <class F>
    void Each(F declare)
    {
        if (stream)
            declare(*stream);
        else
            declare(writer);
    }
    size_t openScopes = 0;
    std::vector<Signal*> byIdcode;
    // Layout 2: the changes of whole steps and of the current one, handed to the writer in
    // batches of whole steps, so that a step cut off by the input's end is taken back. Each is
    // its idcode (-1: taken back since) and its value's size; the values follow each other in
    // bytes. A step ends at its change `end` and its value byte `used`.
    struct Queued {
        int idcode;
        uint32_t size;
    };
    struct StepEnd {
        size_t end, used;
        uint64_t time;
    };
    struct Changes {
        std::vector<Queued> queued;
        std::vector<uint8_t> bytes;
        size_t used = 0;
        std::vector<StepEnd> steps;
        size_t StepFrom() const { return steps.empty() ? 0 : steps.back().end; }
        size_t StepUsedFrom() const { return steps.empty() ? 0 : steps.back().used; }
    };
    Changes changes;  // being filled
    Changes sent;     // being written by the sender
    uint32_t reals = 0, events = 0, logic = 0;
};

// Whether a layout-2 import gives its changes to the writers on a thread of its own while the
// input is read on (where threads can be started); tests turn it off for the other path.
extern bool gSenderThread;

// The name under which a file of layout 2 is written until it is complete.
std::string WritingName(const std::string& path);

// True for the characters of a logic value: 0 1 x z u and the nine-value l h w -.
bool IsBitChar(char c);

// A token as a message may show it, quoted: printable ASCII only, at most 40 characters.
std::string Printable(const char* text, size_t size);
std::string Quote(const char* text, size_t size);
std::string Quote(const std::string& text);

class Backend {
public:
    // Writes output (and its companion) in the layout given.
    Backend(Diagnostics* d, const std::string& output, int layout);
    ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    // --- messages: "line N: text", or the bare text for an input without lines ---
    void SetLine(int line) { line_ = line; }
    void WithoutLines() { lines_ = false; }
    int Line() const { return line_; }
    bool Fail(const std::string& message);
    void Warn(const std::string& message);
    // Counts one more of a kind of dialect met or of input skipped; each kind gets one line at
    // the end: the first one's text and line, and how many there were.
    void Tally(const char* kind, bool note, const std::string& text);

    // --- the header and the hierarchy ---
    void SetUnit(const std::string& unit);
    void SetStamp(std::string stamp);
    bool BeginScope(const std::string& name);  // "" for a scope that adds no level
    bool EndScope();
    size_t OpenScopes() const { return scopes_.size(); }

    // --- variables ---
    // A new signal of kind (Skipped for one that cannot be shown, reason saying why); its
    // number for the changes. A logic variable of 0 bits is skipped here.
    int Declare(Kind kind, uint32_t width, const std::string& name, const char* reason = nullptr);
    // A second declaration of signal index: another name for it, unless it repeats one.
    bool Alias(int index, Kind kind, uint32_t width, const std::string& name);
    Signal& At(int index) { return signals_[static_cast<size_t>(index)]; }
    const std::string& Name(const Signal& s) const { return rest_[s.index].name; }
    size_t Signals() const { return signals_.size(); }
    uint32_t Widest() const;

    // --- changes ---
    // A new time step at time (not before the current time, which the front-end checks); the
    // changes of the step before go to the files. False when they cannot be written.
    bool Step(uint64_t time);
    uint64_t Time() const { return time_; }
    bool Started() const { return serial_ != 0; }
    // While restating is set (VCD's $dumpvars and the like) an event's values are no triggers.
    void SetRestating(bool restating) { restating_ = restating; }
    // A logic value of size characters, extended on the left to the signal's width: with 0 when
    // its first character is 0 or 1 (or L or H), else with that character. whole: the value as
    // the input wrote it, for messages.
    bool StoreLogic(Signal& s, const char* bits, size_t size, const char* whole, size_t wholeSize);
    bool StoreReal(Signal& s, double v);
    // An event's value 1 is one trigger; its other values (an initial x), and every value while
    // restating, carry nothing.
    bool Trigger(Signal& s, const char* bits, size_t size);
    // A real variable given a value that is not a number: left out of the file, with what it
    // had stored; value says what it was given.
    bool DropReal(Signal& s, const std::string& value);
    // Takes back the changes of the current step (an input cut inside it); false when no step
    // had begun. The time goes back to the step before.
    bool DropStep();

    // --- the end ---
    // Closes the files' scopes and sets their end; reports the tallies and notes (restatedBy:
    // which event values the input restates rather than triggers, for the note on them).
    bool Finish(const char* restatedBy);
    bool WriteFiles(std::vector<std::string>* written);
    // Removes the files being written (layout 2), for a process that ends without returning.
    void Abandon();
    // True when the import failed because an output file could not be written.
    bool WriteFailed() const { return writeFailed_; }
    // The end of an import: the files written when the whole input was read; else false, the
    // error naming input (a failed write's message names its file already).
    bool Conclude(bool read, const std::string& input, std::vector<std::string>* written);

private:
    // Room for a value of n bytes of s, kept by Touch (which stores its time) and Commit.
    uint8_t* Room(Signal& s, size_t n);
    void Commit(Signal& s, size_t n);
    bool Append(Signal& s, const void* value, size_t n);
    // Layout 2: the changes of the current step become a step of the batch, written at time_.
    void CloseStep();
    // Hands the batch's whole steps to the sender (waiting for the batch before); with wait,
    // returns when they are written. False when a change could not be written.
    bool Send(bool wait);
    bool Written();  // waits for the sender; false (the error taken) when it failed
    void SendAll();  // on the sender
    void SendBatch(const OutFile::Changes& batch, nffr::StreamWriter* stream);
    void Sender();
    void StopSender();
    bool WriteFile(OutFile& f, const std::string& path);
    bool Touch(Signal& s);
    bool CannotStore(const Signal& s);
    bool Unfit(Signal& s, const char* bits, size_t size, const char* whole, size_t wholeSize);
    void CloseScope(OutFile& f);
    void OpenFileScopes(OutFile& f);
    uint32_t CurrentScope() const { return openIds_.empty() ? 0 : openIds_.back(); }
    std::string Where(int line) const;
    void ReportTallies();
    void NoteMapped();

    Diagnostics* d_;
    std::string output_;
    OutFile files_[2];
    SignalRest& Rest(const Signal& s) { return rest_[s.index]; }

    ChunkPool chunks_;  // before the signals, whose chains hold its chunks
    // Before the signals, which it holds: on huge pages, a change's first touch of one of a
    // large design's records costs no page walk, as it would among records all over the heap.
    nffr::RecordArena records_;
    std::deque<Signal, nffr::ArenaAllocator<Signal>> signals_{
        nffr::ArenaAllocator<Signal>(&records_)};
    std::deque<SignalRest> rest_;
    std::vector<std::string> scopes_;  // the open scopes' names, empty for one without
    std::vector<uint32_t> openIds_;    // their numbers, one per scope path (0: the top)
    std::map<std::pair<uint32_t, std::string>, uint32_t> scopeIds_;
    std::set<std::tuple<int, uint32_t, std::string>> aliases_;  // signal, scope, name
    std::vector<Signal*> touched_;
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
    bool restating_ = false;
    bool lines_ = true;
    bool writeFailed_ = false;
    // The sender: writes the batches of files_[].sent while the next is filled.
    nffr::detail::Thread sender_;
    bool senderless_ = false;  // no thread could be started: a batch is written at once
    nffr::detail::Mutex mutex_;
    nffr::detail::Condition wake_, done_;
    bool busy_ = false, stop_ = false;
    std::string sendError_;  // the writer's, when a batch failed
};

}  // namespace fsdbgen

#endif

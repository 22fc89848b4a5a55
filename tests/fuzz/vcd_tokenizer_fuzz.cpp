// vcd_tokenizer_fuzz.cpp: libFuzzer target that reads each input (plain or gzip-compressed) with
// the VCD import's tokenizer through a small read buffer, so that words are cut across reads and
// the buffer grows, and compares every token, its line and whether it ran into the end of the
// input, with a plain split at blanks. Every other token is pinned over the next call, as a
// value is over its code, and must keep its bytes. A word longer than the buffer's limit must
// end the input with an error, and only such a word. Any difference aborts.
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vcd_stream.h"

namespace {

struct Word {
    size_t start;
    size_t end;
    int line;
};

bool Blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<Word> Split(const std::string& text)
{
    std::vector<Word> words;
    int line = 1;
    for (size_t i = 0; i < text.size();) {
        if (Blank(text[i])) {
            line += text[i++] == '\n';
            continue;
        }
        const size_t start = i;
        while (i < text.size() && !Blank(text[i]))
            ++i;
        words.push_back({start, i, line});
    }
    return words;
}

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "vcd_tokenizer_fuzz: %s\n", what);
        std::abort();
    }
}

bool WriteInput(const std::string& path, const std::string& text, bool gzip)
{
    if (!gzip) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        const bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
        return f && std::fclose(f) == 0 && ok;
    }
    gzFile gz = gzopen(path.c_str(), "wb");
    if (!gz)
        return false;
    const bool ok =
        text.empty() || gzwrite(gz, text.data(), static_cast<unsigned>(text.size())) > 0;
    return gzclose(gz) == Z_OK && ok;
}

}  // namespace

// Input: an options byte (bits 0-5: the read buffer's size less 16; bit 6: gzip; bit 7: pin
// every other token), a byte choosing the limit (1 to 4 times the buffer), then the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t block = 16 + (data[0] & 63);
    const bool gzip = data[0] & 64;
    const bool pin = data[0] & 128;
    const size_t limit = block * (1 + data[1] % 4);
    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
    // A plain text that begins with gzip's magic bytes is read as gzip: no reference for it.
    const bool reference = gzip || text.compare(0, 2, "\x1f\x8b") != 0;
    static const std::string path = "/tmp/vcd_tokenizer_fuzz_" + std::to_string(getpid());
    Check(WriteInput(path, text, gzip), "cannot write the input");

    fsdbgen::VcdInput in;
    std::string error;
    Check(in.Open(path, &error), "cannot open the input");
    fsdbgen::Tokenizer tok(&in, block);
    tok.SetLimit(limit);
    const std::vector<Word> words = Split(text);
    size_t n = 0;
    fsdbgen::Token t, pinned;
    bool hasPinned = false;
    for (;; ++n) {
        const bool got = tok.Next(&t, hasPinned ? &pinned : nullptr);
        if (!reference) {
            if (!got)
                break;
            continue;
        }
        if (hasPinned) {
            const Word& w = words[n - 1];
            Check(pinned.size == w.end - w.start &&
                      text.compare(w.start, pinned.size, pinned.text, pinned.size) == 0,
                  "a pinned token lost its bytes");
        }
        if (!got) {
            // The bytes the buffer had to hold: from the pinned token (or the next word) to the
            // end of the next word (or of the input).
            const size_t from = hasPinned          ? words[n - 1].start
                                : n < words.size() ? words[n].start
                                                   : text.size();
            const size_t to = n < words.size() ? words[n].end : text.size();
            const bool tooLong = to - from >= limit;
            Check(tok.ReadError().empty() != tooLong, "a word refused or kept against its limit");
            Check(tooLong || n == words.size(), "the tokens ended early");
            break;
        }
        Check(n < words.size(), "more tokens than words");
        const Word& w = words[n];
        Check(t.size == w.end - w.start && text.compare(w.start, t.size, t.text, t.size) == 0,
              "a token differs from its word");
        Check(t.line == w.line, "a token's line differs from its word's");
        Check(tok.LastTokenCutOff() == (w.end == text.size()), "a token's cut-off is wrong");
        hasPinned = pin && !hasPinned;
        if (hasPinned)
            pinned = t;
    }
    in.Close();
    return 0;
}

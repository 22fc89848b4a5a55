// nffr_make_corpus.cpp: writes the fuzzer's seed corpus (small files of each kind, in both
// layouts) into a folder.
#include <string>
#include <vector>

#include "meta_codec.h"
#include "nffr_layout.h"
#include "nffr_stream_writer.h"
#include "nffr_writer.h"

namespace {

// Writes w in layout 2 with its metadata block stored uncompressed, so that the fuzzer's
// mutations reach the hierarchy and table checks rather than stopping at the frame's.
bool WritePlainMetadata(const nffr::FileWriter& w, const std::string& path)
{
    namespace L = nffr::layout;
    std::vector<uint8_t> b, meta;
    if (!w.Bytes(&b))
        return false;
    const size_t at = static_cast<size_t>(L::Load64(&b[L::kOffMetaOffset]));
    const uint32_t decoded = L::Load32(&b[L::kOffMetaDecoded]);
    if (!nffr::meta::Unpack(&b[at], b.size() - at, b[L::kOffMetaCodec], decoded, &meta).empty())
        return false;
    b.resize(at);
    b.insert(b.end(), meta.begin(), meta.end());
    L::Store32(&b[L::kOffMetaStored], decoded);
    b[L::kOffMetaCodec] = L::kCodecNone;
    L::Store64(&b[L::kOffFileSize], b.size());
    return nffr::FileWriter::WriteBytes(path, b);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string dir = argv[1];
    nffr::FileWriter reals;
    reals.SetStamp("seed");
    reals.BeginScope("top");
    int v = reals.AddVar("v", 'v', 1);
    reals.AddReal(v, 0, 1.0);
    reals.AddReal(v, 10, 2.0);
    int f = reals.AddVar("f", 'i', 1, 2);
    reals.AddReal(f, 3, 0.5);
    reals.SetCountUnknown(f);
    reals.AddAlias("v_alias", v);
    int d = reals.AddVar("d", 0, 2);
    reals.AddBits(d, 1, "0x");
    reals.EndScope();

    nffr::FileWriter bits;
    bits.SetFileType(0);
    bits.SetTimeUnit("1ps");
    bits.BeginScope("a");
    bits.BeginScope("b/c");
    int bus = bits.AddVar("bus[3:0]", 0, 4);
    for (uint64_t t = 0; t < 8; ++t)
        bits.AddBits(bus, t * 5, t % 2 ? "01xz" : "1100");
    bits.AddVar("quiet", 0, 1);
    bits.EndScope();
    bits.EndScope();

    // A clock whose segments are compressed, written by the streaming writer with a budget small
    // enough to cut several segments.
    nffr::StreamWriter clock(dir + "/clock2.fsdb", 600);
    clock.SetFileType(0);
    clock.BeginScope("top");
    int clk = clock.AddVar("clk", 0, 1);
    int wide = clock.AddVar("wide", 0, 12);
    clock.EndScope();
    for (uint64_t t = 0; t < 200; ++t) {
        const uint8_t bit = t % 2, word[12] = {bit, 1, 0, 0, 2, 3, 1, 1, 0, 0, bit, 4};
        clock.AddChange(clk, t * 5, &bit, 1);
        if (t % 7 == 0)
            clock.AddChange(wide, t * 5, word, sizeof word);
    }

    nffr::FileWriter empty;
    bool ok = clock.Finish();
    for (int layout : {1, 2}) {
        const std::string n = std::to_string(layout) + ".fsdb";
        for (nffr::FileWriter* w : {&reals, &bits, &empty})
            w->SetLayout(layout);
        ok = ok && reals.Write(dir + "/reals" + n) && bits.Write(dir + "/bits" + n) &&
             empty.Write(dir + "/empty" + n);
    }
    ok = ok && WritePlainMetadata(reals, dir + "/reals2plain.fsdb") &&
         WritePlainMetadata(bits, dir + "/bits2plain.fsdb");
    return ok ? 0 : 1;
}

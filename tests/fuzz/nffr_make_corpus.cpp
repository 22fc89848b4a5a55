// nffr_make_corpus.cpp: writes the fuzzer's seed corpus (small files of each kind, in every
// layout) into a folder.
#include <string>
#include <vector>

#include "meta_codec.h"
#include "nffr_layout.h"
#include "nffr_stream_writer.h"
#include "nffr_writer.h"

namespace {

// Writes w in its layout (2 or 3) with its metadata block stored uncompressed, so that the
// fuzzer's mutations reach the hierarchy and table checks rather than stopping at the frame's.
bool WritePlainMetadata(const nffr::FileWriter& w, const std::string& path)
{
    namespace L = nffr::layout;
    std::vector<uint8_t> b, meta;
    if (!w.Bytes(&b))
        return false;
    const bool three = L::Load32(&b[L::kOffVersion]) == L::kVersion3;
    const uint32_t stored = three ? L::kOff3MetaStored : L::kOffMetaStored;
    const uint32_t codec = three ? L::kOff3MetaCodec : L::kOffMetaCodec;
    const size_t at =
        static_cast<size_t>(L::Load64(&b[three ? L::kOff3MetaOffset : L::kOffMetaOffset]));
    const uint32_t decoded = L::Load32(&b[three ? L::kOff3MetaDecoded : L::kOffMetaDecoded]);
    if (!nffr::meta::Unpack(&b[at], b.size() - at, b[codec], decoded, &meta).empty())
        return false;
    b.resize(at);
    b.insert(b.end(), meta.begin(), meta.end());
    L::Store32(&b[stored], decoded);
    b[codec] = L::kCodecNone;
    L::Store64(&b[three ? L::kOff3FileSize : L::kOffFileSize], b.size());
    return nffr::FileWriter::WriteBytes(path, b);
}

// A clock whose segments are compressed, written by the streaming writer in layout with a
// budget small enough to cut several segments.
bool WriteClock(const std::string& path, int layout)
{
    nffr::StreamWriter clock(path, 600);
    clock.SetLayout(layout);
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
    return clock.Finish();
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

    nffr::FileWriter empty;
    bool ok = WriteClock(dir + "/clock2.fsdb", 2) && WriteClock(dir + "/clock3.fsdb", 3);
    for (int layout : {1, 2, 3}) {
        const std::string n = std::to_string(layout) + ".fsdb";
        for (nffr::FileWriter* w : {&reals, &bits, &empty})
            w->SetLayout(layout);
        ok = ok && reals.Write(dir + "/reals" + n) && bits.Write(dir + "/bits" + n) &&
             empty.Write(dir + "/empty" + n);
    }
    ok = ok && WritePlainMetadata(reals, dir + "/reals3plain.fsdb") &&
         WritePlainMetadata(bits, dir + "/bits3plain.fsdb");
    for (nffr::FileWriter* w : {&reals, &bits})
        w->SetLayout(2);
    ok = ok && WritePlainMetadata(reals, dir + "/reals2plain.fsdb") &&
         WritePlainMetadata(bits, dir + "/bits2plain.fsdb");
    return ok ? 0 : 1;
}

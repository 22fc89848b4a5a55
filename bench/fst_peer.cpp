// fst_peer.cpp: the FST waveform library (Debian's copy of fstapi.c, compiled into this
// benchmark only) writing the benchmark's signals and reading them into the host's arrays.
#include "fst_peer.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include "fstapi.h"
}

namespace bench {

bool FstAvailable()
{
    return true;
}

bool WriteFst(const std::string& path, const FilePlan& plan)
{
    void* writer = fstWriterCreate(path.c_str(), 1);
    if (writer == nullptr) {
        return false;
    }
    fstWriterSetPackType(writer, FST_WR_PT_LZ4);
    fstWriterSetTimescale(writer, -9);
    fstWriterSetScope(writer, FST_ST_VCD_MODULE, "top", nullptr);
    std::vector<fstHandle> handles;
    uint32_t longest = 0;
    for (const SignalPlan& s : plan) {
        handles.push_back(
            fstWriterCreateVar(writer, s.bits == 0 ? FST_VT_VCD_REAL : FST_VT_VCD_WIRE,
                               FST_VD_IMPLICIT, s.bits == 0 ? 8 : s.bits, s.name.c_str(), 0));
        longest = s.changes > longest ? s.changes : longest;
    }
    fstWriterSetUpscope(writer);
    // Changes in time order across signals, as a simulator emits them.
    std::string bits;
    std::vector<uint64_t> nextTag(plan.size(), 0);
    std::vector<uint32_t> done(plan.size(), 0);
    for (;;) {
        uint64_t now = UINT64_MAX;
        for (size_t k = 0; k < plan.size(); k++) {
            if (done[k] < plan[k].changes && nextTag[k] < now) {
                now = nextTag[k];
            }
        }
        if (now == UINT64_MAX) {
            break;
        }
        fstWriterEmitTimeChange(writer, now);
        for (size_t k = 0; k < plan.size(); k++) {
            const SignalPlan& s = plan[k];
            if (done[k] >= s.changes || nextTag[k] != now) {
                continue;
            }
            uint32_t i = done[k]++;
            if (s.bits == 0) {
                double v = RealValue(i);
                fstWriterEmitValueChange(writer, handles[k], &v);
            } else {
                bits.resize(s.bits);
                for (uint32_t b = 0; b < s.bits; b++) {
                    bits[b] = Bit(s, i, b);
                }
                fstWriterEmitValueChange(writer, handles[k], bits.data());
            }
            nextTag[k] = uint64_t(done[k]) * s.tagStep;
        }
    }
    fstWriterClose(writer);
    return true;
}

namespace {

// The host's final arrays for one signal: x in seconds, y doubles or fixed-size texts.
struct Arrays {
    double* x = nullptr;
    unsigned char* y = nullptr;
    size_t count = 0;
    size_t capacity = 0;
    size_t stride = 0;  // bytes per y value
    bool real = false;
    bool grow()
    {
        capacity = capacity ? capacity * 2 : 1024;
        x = static_cast<double*>(std::realloc(x, capacity * sizeof(double)));
        y = static_cast<unsigned char*>(std::realloc(y, capacity * stride));
        return x != nullptr && y != nullptr;
    }
};

void TakeChange(void* data, uint64_t time, fstHandle, const unsigned char* value)
{
    Arrays* a = static_cast<Arrays*>(data);
    if (a->count == a->capacity && !a->grow()) {
        std::abort();
    }
    a->x[a->count] = double(time) * 1e-9;
    unsigned char* at = a->y + a->count * a->stride;
    if (a->real || a->stride == 1) {
        std::memcpy(at, value, a->stride);
    } else {
        std::memcpy(at, value, a->stride - 1);
        at[a->stride - 1] = 0;
    }
    a->count++;
}

// The bus: members' current characters side by side; a row is emitted when the time moves on.
struct BusRows {
    Arrays rows;
    std::vector<char> row;
    uint64_t time = 0;
    bool pending = false;
};

void TakeBusChange(void* data, uint64_t time, fstHandle handle, const unsigned char* value)
{
    BusRows* bus = static_cast<BusRows*>(data);
    if (bus->pending && time != bus->time) {
        TakeChange(&bus->rows, bus->time, 0,
                   reinterpret_cast<const unsigned char*>(bus->row.data()));
    }
    bus->time = time;
    bus->pending = true;
    bus->row[handle - 1] = static_cast<char>(value[0]);
}

}  // namespace

bool ReadFstSignal(const std::string& path, const FilePlan& plan, size_t index)
{
    void* reader = fstReaderOpen(path.c_str());
    if (reader == nullptr) {
        return false;
    }
    const SignalPlan& s = plan[index];
    Arrays a;
    a.real = s.bits == 0;
    a.stride = a.real ? sizeof(double) : (s.bits == 1 ? 1 : s.bits + 1);
    fstReaderIterBlocksSetNativeDoublesOnCallback(reader, 1);
    fstReaderClrFacProcessMaskAll(reader);
    fstReaderSetFacProcessMask(reader, fstHandle(index + 1));
    int ok = fstReaderIterBlocks(reader, TakeChange, &a, nullptr);
    bool right = ok != 0 && a.count == s.changes;
    std::free(a.x);
    std::free(a.y);
    fstReaderClose(reader);
    return right;
}

bool ReadFstBus(const std::string& path, const FilePlan& plan)
{
    void* reader = fstReaderOpen(path.c_str());
    if (reader == nullptr) {
        return false;
    }
    BusRows bus;
    bus.rows.stride = plan.size() + 1;
    bus.row.assign(plan.size() + 1, '\0');
    fstReaderSetFacProcessMaskAll(reader);
    int ok = fstReaderIterBlocks(reader, TakeBusChange, &bus, nullptr);
    if (bus.pending) {
        TakeChange(&bus.rows, bus.time, 0, reinterpret_cast<const unsigned char*>(bus.row.data()));
    }
    bool right = ok != 0 && bus.rows.count == plan[0].changes;
    std::free(bus.rows.x);
    std::free(bus.rows.y);
    fstReaderClose(reader);
    return right;
}

}  // namespace bench

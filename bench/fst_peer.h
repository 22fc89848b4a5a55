// fst_peer.h: the FST waveform library as the peer: it writes the benchmark's signals as an FST
// file and reads chosen signals into the same arrays the host keeps. Built only when the
// library's sources are found; otherwise FstAvailable() is false and every case skips it.
#ifndef QUORVEL_BENCH_FST_PEER_H
#define QUORVEL_BENCH_FST_PEER_H

#include <string>

#include "signals.h"

namespace bench {

bool FstAvailable();
bool WriteFst(const std::string& path, const FilePlan& plan);
// Reads signal index (0-based, in plan order) as x seconds and y values (doubles, or texts of
// bits + 1 bytes, or one byte for one bit), then frees the arrays; false on failure.
bool ReadFstSignal(const std::string& path, const FilePlan& plan, size_t index);
// Reads every signal of the file as one bus: one row of joined member texts per change time.
bool ReadFstBus(const std::string& path, const FilePlan& plan);

}  // namespace bench

#endif

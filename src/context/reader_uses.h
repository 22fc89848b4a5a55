// reader_uses.h: the process-wide record of the reader objects that the plug-in's contexts
// hold uses of, and how many uses each holds; a context names its object by a serial.
#ifndef QUORVEL_READER_USES_H
#define QUORVEL_READER_USES_H

#include "nffr.h"

// Records one more use of reader, just returned by ffrOpen2. A live entry of that address is
// that same object (our uses keep it alive): its serial is returned. Otherwise a new entry with
// a new serial. 0 when the record cannot grow.
unsigned TakeReaderUse(ffrObject* reader);
// The uses the plug-in's contexts hold on reader (0 when it has no live entry).
int RecordedReaderUses(const ffrObject* reader);
// Removes reader's entry: every serial naming it then names nothing (its uses were dropped).
void ForgetReader(const ffrObject* reader);
// Drops one use of the entry named by serial and returns its reader, which the caller closes
// once; null (nothing to close) when serial names no live entry.
ffrObject* DropReaderUse(unsigned serial);
// The reader of the live entry named by serial, or null.
ffrObject* ReaderOfUse(unsigned serial);

// LoadListedSignals on reader, remembering whether it refused a signal (changes that go back in
// time, a block over other data). Its result.
int LoadListed(ffrObject* reader);
// 1 when the count signals ids of reader are loaded and may be traversed: the last load refused
// none, or, after a refusal, loading the list again refuses none and the reader knows the change
// count of each (it refuses that, with its reason, for a signal it refused). A refused signal
// must never be traversed.
int ListedSignalsLoaded(ffrObject* reader, const int* ids, unsigned count);

#endif

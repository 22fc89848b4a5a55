// reader_uses.cpp: the record of reader objects held by the plug-in's contexts, so that a
// context knows, without probing the library, whether its use of a reader still counts.
#include "context/reader_uses.h"

#include <stdlib.h>

#include "context/context.h"

namespace {

struct ReaderUse {
    ffrObject* reader;
    unsigned serial;
    int uses;
    int refused;  // the last LoadListedSignals refused a signal
};

ReaderUse* useTable = NULL;
int useCount = 0;
int useCapacity = 0;
unsigned lastSerial = 0;

ReaderUse* FindByReader(const ffrObject* reader)
{
    for (int i = 0; i < useCount; i++) {
        if (useTable[i].reader == reader && useTable[i].uses > 0) {
            return &useTable[i];
        }
    }
    return NULL;
}

ReaderUse* FindBySerial(unsigned serial)
{
    if (serial == 0) {
        return NULL;
    }
    for (int i = 0; i < useCount; i++) {
        if (useTable[i].serial == serial) {
            return &useTable[i];
        }
    }
    return NULL;
}

void RemoveEntry(ReaderUse* entry)
{
    *entry = useTable[useCount - 1];
    useCount--;
    if (useCount == 0) {
        free(useTable);
        useTable = NULL;
        useCapacity = 0;
    }
}

unsigned NextSerial()
{
    do {
        lastSerial++;
    } while (lastSerial == 0 || FindBySerial(lastSerial) != NULL);
    return lastSerial;
}

int GrowTable()
{
    if (useCount < useCapacity) {
        return 1;
    }
    int capacity = useCapacity == 0 ? 8 : useCapacity * 2;
    ReaderUse* grown = (ReaderUse*)realloc(useTable, (size_t)capacity * sizeof(ReaderUse));
    if (grown == NULL) {
        return 0;
    }
    useTable = grown;
    useCapacity = capacity;
    return 1;
}

}  // namespace

unsigned TakeReaderUse(ffrObject* reader)
{
    if (reader == NULL) {
        return 0;
    }
    ReaderUse* entry = FindByReader(reader);
    if (entry != NULL) {
        entry->uses++;
        return entry->serial;
    }
    if (!GrowTable()) {
        return 0;
    }
    ReaderUse* added = &useTable[useCount++];
    added->reader = reader;
    added->serial = NextSerial();
    added->uses = 1;
    added->refused = 0;
    return added->serial;
}

int RecordedReaderUses(const ffrObject* reader)
{
    ReaderUse* entry = FindByReader(reader);
    return entry == NULL ? 0 : entry->uses;
}

void ForgetReader(const ffrObject* reader)
{
    ReaderUse* entry = FindByReader(reader);
    if (entry != NULL) {
        RemoveEntry(entry);
    }
}

ffrObject* DropReaderUse(unsigned serial)
{
    ReaderUse* entry = FindBySerial(serial);
    if (entry == NULL) {
        return NULL;
    }
    ffrObject* reader = entry->reader;
    entry->uses--;
    if (entry->uses <= 0) {
        RemoveEntry(entry);
    }
    return reader;
}

ffrObject* ReaderOfUse(unsigned serial)
{
    ReaderUse* entry = FindBySerial(serial);
    return entry == NULL ? NULL : entry->reader;
}

int LoadListed(ffrObject* reader)
{
    int result = reader->LoadListedSignals();
    ReaderUse* entry = FindByReader(reader);
    if (entry != NULL) {
        entry->refused = result != 0;
    }
    return result;
}

int ListedSignalsLoaded(ffrObject* reader, const int* ids, unsigned count)
{
    ReaderUse* entry = FindByReader(reader);
    if (entry != NULL && !entry->refused) {
        return 1;
    }
    // The refusal may concern other signals: a signal the reader refused stays refused and has
    // no change count, so those of the signals at hand tell them apart.
    LoadListed(reader);
    for (unsigned i = 0; i < count; i++) {
        if (reader->GetChangeCount(ids[i]) < 0) {
            return 0;
        }
    }
    return 1;
}

ffrObject* LiveReader(const ReaderContext* context)
{
    if (context == NULL || context->reader == NULL) {
        return NULL;
    }
    return ReaderOfUse(context->readerUse) == context->reader ? context->reader : NULL;
}

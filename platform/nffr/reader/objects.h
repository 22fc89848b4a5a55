// objects.h: the reader object's and traverser's inner state, and access to the private
// members of the plug-in-facing classes.
#ifndef NFFR_READER_OBJECTS_H
#define NFFR_READER_OBJECTS_H

#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "internal.h"

constexpr uint32_t kLiveObjectMagic = 0x4f52464eu;  // "NFRO"
constexpr uint32_t kDeadObjectMagic = 0xdeadbe0fu;
constexpr uint32_t kLiveTraverserMagic = 0x5652464eu;  // "NFRV"
constexpr uint32_t kDeadTraverserMagic = 0xdeadbe1fu;

struct ffrObjectImpl {
    std::string path;
    std::string identity;   // file identity at open
    std::string canonical;  // canonical path at open
    nffr::DiskState disk;
    bool diskHadStamp = false;
    std::string diskStamp;
    std::shared_ptr<nffr::Mapping> map;
    nffr::Model model;
    std::unordered_map<int, size_t> byIdcode;  // idcode -> signal index
    std::vector<ffrVarInfo> infos;             // one per signal, stable
    std::vector<std::vector<char>> treeNames;  // writable name copies, one per tree entry
    std::vector<ffrScopeRecord> scopeRecords;  // per tree entry (scopes used)
    std::vector<ffrVarRecord> varRecords;      // per tree entry (variables used)
    std::vector<uint8_t> listed, loaded;       // per signal
    int uses = 1;
    bool released = false;
    ffrTreeCallback callback = nullptr;
    void* clientData = nullptr;
};

struct ffrTraverserImpl {
    std::shared_ptr<nffr::Mapping> map;  // keeps the bytes alive after the object's last Close
    const uint8_t* tags = nullptr;
    const uint8_t* values = nullptr;
    uint32_t count = 0;
    uint32_t pos = 0;
    uint32_t valueSize = 0;
    uint32_t bitSize = 0;
    int valueDataType = 0;
    bool copyValues = false;  // reals are copied for alignment
    alignas(8) unsigned char buffer[8] = {0};
    unsigned char empty[1] = {0};
};

struct ffrAccess {
    static uint32_t& Magic(ffrObject* o) { return o->magic_; }
    static ffrObjectImpl*& Impl(ffrObject* o) { return o->impl_; }
    static uint32_t& Magic(ffrVCTraverser* t) { return t->magic_; }
    static ffrTraverserImpl*& Impl(ffrVCTraverser* t) { return t->impl_; }
    static ffrObject* NewObject(void* at) { return at ? new (at) ffrObject() : new ffrObject(); }
    static ffrVCTraverser* NewTraverser() { return new ffrVCTraverser(); }
    static void DeleteObject(ffrObject* o) { delete o; }
    static void DeleteTraverser(ffrVCTraverser* t) { delete t; }
};

#endif

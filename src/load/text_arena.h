// text_arena.h: the value texts of one load, packed into a few large blocks instead of one heap
// allocation per sample; the host copies texts, so they only live until the hand-over.
#ifndef QUORVEL_TEXT_ARENA_H
#define QUORVEL_TEXT_ARENA_H

#include <stddef.h>

struct ArenaBlock;

struct TextArena {
    ArenaBlock* blocks;  // newest first
    char* next;          // free space of the newest block
    size_t left;         // bytes free at next
    size_t nextSize;     // size of the next block to allocate
};

// An empty arena whose first block will hold at least firstSize bytes.
void InitTextArena(TextArena* arena, size_t firstSize);
// Room for bytes bytes, valid until FreeTextArena; null when memory runs out.
char* ArenaAllocate(TextArena* arena, size_t bytes);
void FreeTextArena(TextArena* arena);

#endif

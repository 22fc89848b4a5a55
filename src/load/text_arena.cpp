// text_arena.cpp: the value texts of one load, packed into a few large blocks.
#include "load/text_arena.h"

#include <stdint.h>
#include <stdlib.h>

struct ArenaBlock {
    ArenaBlock* older;
};

namespace {

// Blocks stay below this size so that a long load does not ask for one huge block.
const size_t kLargestBlock = (size_t)64 << 20;
const size_t kSmallestBlock = (size_t)4 << 10;

size_t Clamp(size_t size)
{
    if (size < kSmallestBlock) {
        return kSmallestBlock;
    }
    return size > kLargestBlock ? kLargestBlock : size;
}

}  // namespace

void InitTextArena(TextArena* arena, size_t firstSize)
{
    arena->blocks = NULL;
    arena->next = NULL;
    arena->left = 0;
    arena->nextSize = Clamp(firstSize);
}

char* ArenaAllocate(TextArena* arena, size_t bytes)
{
    if (bytes <= arena->left) {
        char* room = arena->next;
        arena->next += bytes;
        arena->left -= bytes;
        return room;
    }
    size_t size = bytes > arena->nextSize ? bytes : arena->nextSize;
    if (size > SIZE_MAX - sizeof(ArenaBlock)) {
        return NULL;
    }
    ArenaBlock* block = (ArenaBlock*)malloc(sizeof(ArenaBlock) + size);
    if (block == NULL) {
        return NULL;
    }
    block->older = arena->blocks;
    arena->blocks = block;
    char* room = (char*)(block + 1);
    arena->next = room + bytes;
    arena->left = size - bytes;
    arena->nextSize = Clamp(arena->nextSize * 2);
    return room;
}

void FreeTextArena(TextArena* arena)
{
    while (arena->blocks != NULL) {
        ArenaBlock* older = arena->blocks->older;
        free(arena->blocks);
        arena->blocks = older;
    }
    arena->next = NULL;
    arena->left = 0;
}

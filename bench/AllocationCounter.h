// Counts the heap allocations of the program it is linked into: it replaces the global operator
// new and delete (malloc and free underneath) and counts every call of new.
#pragma once

#include <cstdint>

// The number of operator new calls since the program started.
uint64_t AllocationCount();

// Counts heap allocations per thread. The program's own malloc family stands in front of the C
// library's (everything in the process binds to the executable's definitions first: the client
// library, libstdc++'s operator new, libavcodec's av_malloc), counts, and forwards.
//
// A thread can also have each allocation's call stack looked at: allocations made from inside
// one library (the decoder, whose libavcodec reference-counts every picture on the heap) are
// then counted apart from the rest.
#pragma once

#include <cstdint>
#include <string>

namespace kesto::costmeter {

// Allocations (malloc, calloc, realloc, the aligned forms) made so far by the calling thread,
// apart from those counted by ThreadForeignAllocations.
uint64_t ThreadAllocations();
// Allocations made so far by the calling thread from inside the foreign library.
uint64_t ThreadForeignAllocations();

// Names the foreign library: the loaded object whose path contains `name`. False when no such
// object is loaded.
bool SetForeignLibrary(const std::string& name);
// Turns the stack walk on or off for the calling thread.
void AttributeThreadAllocations(bool on);

}  // namespace kesto::costmeter

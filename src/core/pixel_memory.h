#pragma once
// Memory for picture blocks on Linux.
//
// Under overcommit an allocation of any size succeeds and the out-of-memory
// killer ends the process later, when the pages are touched; so before a
// picture is allocated its size is compared with the memory the machine and
// the process's control group still have (PixelMemoryFits). Large blocks are
// mapped directly and marked for huge pages, so that filling a picture costs
// a few page faults instead of one for every 4 KiB.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <utility>

// True when bytes more can be claimed without pushing the process out of
// memory: within the budget when one is set, otherwise within MemAvailable
// and the control group's remaining limit. Small requests pass unchecked
// unless a budget is set; the system's figures are read at most once a
// second.
bool PixelMemoryFits(int64_t bytes);

// A process-wide cap on the memory one picture may claim, in bytes; 0 removes
// it. The fuzz targets set a small one so that a tiny header declaring a huge
// picture costs little; tests use it to exercise the reduction rule.
void SetPixelMemoryBudget(int64_t bytes);
// Sets the budget from the environment variable ZERBALIN_PICTURE_MEMORY (a
// number of bytes), when it holds a positive number: the program and the
// tool start with it, so that a test can run them as if memory were short.
void SetPixelMemoryBudgetFromEnvironment();

// The memory the machine can still give: MemAvailable, lowered to what the
// control group (version 2 or 1) leaves below its limit. -1 when the system
// says nothing.
int64_t AvailableSystemMemory();
// The same figures, read afresh from the files below root ("" for the real
// /proc and /sys/fs/cgroup).
int64_t AvailableMemoryUnder(const std::string& root);

// Blocks of at least this size are mapped directly and asked to use huge
// pages; smaller ones come from the heap.
inline constexpr size_t kMappedBlockBytes = size_t{1} << 21;

// Uninitialised memory for pixels; throws std::bad_alloc when none can be
// had. Free with FreePixels and the same size.
void* AllocatePixels(size_t bytes);
// True when a new block of this size comes straight from the system and so
// holds zeros already: clearing it again would only cost a pass.
inline bool NewPixelsAreZero(size_t bytes) { return bytes >= kMappedBlockBytes; }
void FreePixels(void* block, size_t bytes) noexcept;

// The allocator of picture blocks: memory from AllocatePixels, and elements
// left uninitialised when a block grows, since every row of a picture is
// written or filled before it is read.
template <typename T>
struct TPixelAllocator {
  using value_type = T;
  TPixelAllocator() = default;
  template <typename U>
  TPixelAllocator(const TPixelAllocator<U>&) {}
  T* allocate(size_t count) { return static_cast<T*>(AllocatePixels(count * sizeof(T))); }
  void deallocate(T* block, size_t count) noexcept { FreePixels(block, count * sizeof(T)); }
  template <typename U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const TPixelAllocator<U>&) const {
    return true;
  }
};

// Routes the global operator new and delete of the program that links this file
// through the allocation hooks, so that every standard container and every object
// created with new is counted.
//
// The plug-in library links it together with a static copy of the C++ runtime, whose
// symbols stay inside the library: the replacement then covers everything the library
// allocates and nothing the host allocates. Test and benchmark programs link it so
// that the counters see their containers too.
#include <cstdint>
#include <new>

#include "platform/alloc_hooks.h"

namespace {

void* Allocate(std::size_t size) {
  void* block = mau::HookAllocate(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AllocateNoThrow(std::size_t size) noexcept { return mau::HookAllocate(size != 0 ? size : 1); }

// Over-aligned blocks: take room for the alignment and a pointer to the real block,
// which is stored just below the address handed out.
void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  const std::size_t align = static_cast<std::size_t>(alignment);
  if (size > SIZE_MAX - align - sizeof(void*)) return nullptr;
  void* raw = mau::HookAllocate(size + align + sizeof(void*));
  if (raw == nullptr) return nullptr;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
  const std::uintptr_t aligned = (start + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return reinterpret_cast<void*>(aligned);
}

void ReleaseAligned(void* block) noexcept {
  if (block != nullptr) mau::HookRelease(static_cast<void**>(block)[-1]);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size);
}

void operator delete(void* block) noexcept { mau::HookRelease(block); }
void operator delete[](void* block) noexcept { mau::HookRelease(block); }
void operator delete(void* block, std::size_t) noexcept { mau::HookRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { mau::HookRelease(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { mau::HookRelease(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { mau::HookRelease(block); }

void* operator new(std::size_t size, std::align_val_t alignment) {
  void* block = AllocateAligned(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return operator new(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void operator delete(void* block, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  ReleaseAligned(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  ReleaseAligned(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  ReleaseAligned(block);
}

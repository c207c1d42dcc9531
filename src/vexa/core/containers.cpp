#include "vexa/core/containers.h"

#include <cstdarg>
#include <cstdio>

namespace vexa {

void TVXList::Clear() {
  Data.clear();
  Data.shrink_to_fit();
  Count = 0;
  Changed = 0;
}

void TVXList::SetCount(int n) {
  if (n < 0) n = 0;
  Data.resize(static_cast<size_t>(n) * ItemSize);
  Data.shrink_to_fit();
  Count = n;
  Changed |= 1;
}

void TVXList::Delete(int i) {
  if (i < 0 || i >= Count) return;
  auto first = Data.begin() + static_cast<ptrdiff_t>(i) * ItemSize;
  Data.erase(first, first + ItemSize);
  Data.shrink_to_fit();
  --Count;
  Changed |= 1;
}

void TVXList::InsertItem(int i, const void* item) {
  if (i < 0) i = 0;
  if (i >= Count) {
    AddItem(item);
    return;
  }
  const uint8_t* p = static_cast<const uint8_t*>(item);
  Data.insert(Data.begin() + static_cast<ptrdiff_t>(i) * ItemSize, p, p + ItemSize);
  ++Count;
  Changed |= 1;
}

int TVXList::AddItem(const void* item) {
  const uint8_t* p = static_cast<const uint8_t*>(item);
  Data.insert(Data.end(), p, p + ItemSize);
  Changed |= 1;
  return Count++;
}

int TVXList::IndexOfItem(const void* item) const {
  for (int i = 0; i < Count; ++i)
    if (std::memcmp(BaseGetItem(i), item, static_cast<size_t>(ItemSize)) == 0) return i;
  return -1;
}

void TVXList::BaseSetItem(int i, const void* item) {
  if (i < 0 || i >= Count) return;
  std::memcpy(BaseGetItem(i), item, static_cast<size_t>(ItemSize));
  Changed |= 1;
}

void TVXList::Assign(const TVXList& source) {
  if (&source == this) return;
  Count = source.Count;
  ItemSize = source.ItemSize;
  Changed = source.Changed;
  Data = source.Data;
}

THash1::THash1(int bits) : FBits(bits < 1 ? 1 : (bits > 30 ? 30 : bits)), FSize(1u << FBits) {
  FSlots.assign(FSize, 0);
  FState.assign(FSize, 0);
}

THash1::~THash1() {
  for (uint32_t i = 0; i < FSize; ++i) {
    if (FState[i] != 2) continue;
    for (Node* n = reinterpret_cast<Node*>(FSlots[i]); n;) {
      Node* next = n->Next;
      delete n;
      n = next;
    }
  }
}

bool THash1::Insert(uint32_t key) {
  uint32_t s = HashFunc(key);
  switch (FState[s]) {
    case 0:
      FSlots[s] = key;
      FState[s] = 1;
      break;
    case 1: {
      if (static_cast<uint32_t>(FSlots[s]) == key) return false;
      Node* second = new Node{key, nullptr};
      Node* first = new Node{static_cast<uint32_t>(FSlots[s]), second};
      FSlots[s] = reinterpret_cast<uintptr_t>(first);
      FState[s] = 2;
      break;
    }
    default: {
      Node* n = reinterpret_cast<Node*>(FSlots[s]);
      for (;; n = n->Next) {
        if (n->Key == key) return false;
        if (!n->Next) break;
      }
      n->Next = new Node{key, nullptr};
    }
  }
  ++FCount;
  return true;
}

bool THash1::KeyPresent(uint32_t key) const {
  uint32_t s = HashFunc(key);
  if (FState[s] == 0) return false;
  if (FState[s] == 1) return static_cast<uint32_t>(FSlots[s]) == key;
  for (const Node* n = reinterpret_cast<const Node*>(FSlots[s]); n; n = n->Next)
    if (n->Key == key) return true;
  return false;
}

void TVXByteArray::Reallocate(int capacity) {
  std::vector<uint8_t> b(static_cast<size_t>(capacity));
  std::memcpy(b.data(), FBuffer.data(), static_cast<size_t>(imin(FSize, capacity)));
  FBuffer.swap(b);
}

void TVXByteArray::AddByte(uint8_t b) {
  SetSize(FSize + 1);
  FBuffer[static_cast<size_t>(FSize - 1)] = b;
}

void TVXByteArray::Clear() {
  FBuffer.assign(BlockSize, 0);
  FBuffer.shrink_to_fit();
  FSize = 0;
}

void TVXByteArray::SetSize(int n) {
  if (n < 0) n = 0;
  if (n > Capacity() || n < Capacity() - BlockSize) Reallocate(n + BlockSize);
  FSize = n;
}

int TVXByteArray::AppendFromStream(TStream& stream, int n) {
  int old = FSize;
  SetSize(FSize + n);
  int64_t got = stream.Read(FBuffer.data() + old, n);
  FSize = old + static_cast<int>(got);
  return static_cast<int>(got);
}

void SaveStringToStream(TStream& stream, const std::string& s) {
  stream.WriteI32(static_cast<int32_t>(s.size()));
  stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void LoadStringFromStream(TStream& stream, std::string& s) {
  int32_t n = stream.ReadI32();
  if (n < 0 || n > stream.Remaining()) throw EReadError("String length exceeds the stream");
  std::string r(static_cast<size_t>(n), '\0');
  stream.ReadBuffer(r.data(), n);
  s = std::move(r);
}

std::string VXFormat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
  std::vsnprintf(s.data(), s.size() + 1, fmt, ap2);
  va_end(ap2);
  return s;
}

}  // namespace vexa

// Small shared containers: the list family of fixed-size items (used for scanner
// capabilities), a hash set of 32-bit keys, a growable byte array, and the
// length-prefixed string format of the parameter files.
//
// Lists reallocate to the exact size on every change; bit 0 of Changed records an
// item change, bit 1 a range change, bit 2 a current-value change.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"

namespace vexa {

class TVXList : public TObject {
 public:
  explicit TVXList(int itemSize) : ItemSize(itemSize) {}
  TVXList(const TVXList&) = delete;
  TVXList& operator=(const TVXList&) = delete;

  virtual void Clear();
  void SetCount(int n);
  /// Indices outside 0..Count-1 are ignored.
  void Delete(int i);
  /// i >= Count appends.
  void InsertItem(int i, const void* item);
  int AddItem(const void* item);
  /// First item equal byte for byte, or -1.
  int IndexOfItem(const void* item) const;
  void* BaseGetItem(int i) { return Data.data() + static_cast<size_t>(i) * ItemSize; }
  const void* BaseGetItem(int i) const { return Data.data() + static_cast<size_t>(i) * ItemSize; }
  /// i >= Count is ignored.
  void BaseSetItem(int i, const void* item);
  virtual void Assign(const TVXList& source);

  std::vector<uint8_t> Data;
  int32_t Count = 0;
  int32_t ItemSize;
  uint8_t Changed = 0;
};

template <typename T>
class TVXTypedRangeList : public TVXList {
 public:
  TVXTypedRangeList() : TVXList(sizeof(T)) {}
  int Add(T v) { return AddItem(&v); }
  T GetItem(int i) const {
    T v;
    std::memcpy(&v, BaseGetItem(i), sizeof(T));
    return v;
  }
  void SetItem(int i, T v) { BaseSetItem(i, &v); }
  void Insert(int i, T v) { InsertItem(i, &v); }
  int IndexOf(T v) const { return IndexOfItem(&v); }
  void Clear() override {
    TVXList::Clear();
    ItemSize = sizeof(T);
    FRangeMin = FRangeMax = FRangeStep = FCurrentValue = T{};
  }
  void Assign(const TVXList& source) override {
    TVXList::Assign(source);
    if (auto* s = dynamic_cast<const TVXTypedRangeList*>(&source)) {
      FRangeMin = s->FRangeMin;
      FRangeMax = s->FRangeMax;
      FRangeStep = s->FRangeStep;
      FCurrentValue = s->FCurrentValue;
    }
  }
  T RangeMin() const { return FRangeMin; }
  T RangeMax() const { return FRangeMax; }
  T RangeStep() const { return FRangeStep; }
  T CurrentValue() const { return FCurrentValue; }
  void SetRangeMin(T v) { FRangeMin = v, Changed |= 2; }
  void SetRangeMax(T v) { FRangeMax = v, Changed |= 2; }
  void SetRangeStep(T v) { FRangeStep = v, Changed |= 2; }
  void SetCurrentValue(T v) { FCurrentValue = v, Changed |= 4; }

 private:
  T FRangeMin{}, FRangeMax{}, FRangeStep{}, FCurrentValue{};
};

using TVXDoubleList = TVXTypedRangeList<double>;
using TVXIntegerList = TVXTypedRangeList<int32_t>;

class TVXRecordList : public TVXList {
 public:
  explicit TVXRecordList(int recordSize) : TVXList(recordSize) {}
  void* GetItem(int i) { return BaseGetItem(i); }
  void SetItem(int i, const void* rec) { BaseSetItem(i, rec); }
  int Add(const void* rec) { return AddItem(rec); }
  void Insert(int i, const void* rec) { InsertItem(i, rec); }
  int IndexOf(const void* rec) const { return IndexOfItem(rec); }
};

/// A set of 32-bit keys: 2^bits slots, colliding keys chained.
class THash1 {
 public:
  explicit THash1(int bits);
  ~THash1();
  THash1(const THash1&) = delete;
  THash1& operator=(const THash1&) = delete;
  uint32_t HashFunc(uint32_t key) const { return key & (FSize - 1); }
  /// False when the key is already present.
  bool Insert(uint32_t key);
  bool KeyPresent(uint32_t key) const;
  int Bits() const { return FBits; }
  int Count() const { return FCount; }

 private:
  struct Node {
    uint32_t Key;
    Node* Next;
  };
  int FBits;
  uint32_t FSize;
  std::vector<uintptr_t> FSlots;  // key, or Node* when the slot holds a chain
  std::vector<uint8_t> FState;    // 0 empty, 1 key, 2 chain
  int FCount = 0;
};

/// Growable byte array; grows and shrinks its capacity in 4096-byte steps.
class TVXByteArray {
 public:
  static constexpr int BlockSize = 4096;
  TVXByteArray() { Clear(); }
  void AddByte(uint8_t b);
  void Clear();
  void SetSize(int n);
  /// Appends up to n bytes from the stream; returns how many were read.
  int AppendFromStream(TStream& stream, int n);
  int Size() const { return FSize; }
  int Capacity() const { return static_cast<int>(FBuffer.size()); }
  uint8_t* Data() { return FBuffer.data(); }
  const uint8_t* Data() const { return FBuffer.data(); }

 private:
  void Reallocate(int capacity);
  std::vector<uint8_t> FBuffer;
  int FSize = 0;
};

/// int32 little-endian byte count, then the bytes (no terminator).
void SaveStringToStream(TStream& stream, const std::string& s);
/// Refuses (EReadError) a stored length larger than what the stream still holds.
void LoadStringFromStream(TStream& stream, std::string& s);

/// "%d"-style formatting into std::string.
std::string VXFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vexa

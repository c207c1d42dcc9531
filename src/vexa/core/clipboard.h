// The clipboard as the library sees it: one slot per format, of which the
// processing component uses CF_DIB (a DIB in the layout of _CopyBitmaptoDIB).
//
// The default service keeps the data inside the process. The UI layer installs
// one backed by the desktop clipboard with VXSetClipboard.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace vexa {

constexpr unsigned CF_DIB = 8;

class TVXClipboard {
 public:
  virtual ~TVXClipboard() = default;
  /// False when another user holds the clipboard; nothing may be read or written then.
  virtual bool Open() = 0;
  virtual void Close() = 0;
  /// Removes every format.
  virtual void Empty() = 0;
  /// Hands the bytes to the clipboard, replacing that format's data.
  virtual void SetData(unsigned format, std::vector<uint8_t> data) = 0;
  virtual bool HasFormat(unsigned format) const = 0;
  /// Empty when the format is absent.
  virtual std::vector<uint8_t> GetData(unsigned format) const = 0;
};

/// An in-process clipboard; Open fails while it is already open.
class TVXMemoryClipboard : public TVXClipboard {
 public:
  bool Open() override;
  void Close() override { FOpen = false; }
  void Empty() override { FData.clear(); }
  void SetData(unsigned format, std::vector<uint8_t> data) override { FData[format] = std::move(data); }
  bool HasFormat(unsigned format) const override { return FData.count(format) != 0; }
  std::vector<uint8_t> GetData(unsigned format) const override;

 private:
  std::map<unsigned, std::vector<uint8_t>> FData;
  bool FOpen = false;
};

/// The clipboard the library uses (the in-process one until another is installed).
TVXClipboard& VXClipboard();
/// Installs a clipboard (not owned; it must outlive its use); null restores the default.
void VXSetClipboard(TVXClipboard* clipboard);

/// Opens the clipboard for one scope; Opened() is false when Open failed.
class TVXClipboardLock {
 public:
  TVXClipboardLock() : FClip(VXClipboard()), FOpened(FClip.Open()) {}
  ~TVXClipboardLock() {
    if (FOpened) FClip.Close();
  }
  TVXClipboardLock(const TVXClipboardLock&) = delete;
  TVXClipboardLock& operator=(const TVXClipboardLock&) = delete;
  bool Opened() const { return FOpened; }
  TVXClipboard& Clip() { return FClip; }

 private:
  TVXClipboard& FClip;
  bool FOpened;
};

}  // namespace vexa

#pragma once
// UserOptions: the program's settings and the values that screens hand to
// each other, kept in numeric and string slots addressed by index or by key
// name, and saved to "user.opt" one second after a change.
//
// "user.opt" (little-endian): format word 7; checksum word (CRC-16/CCITT-FALSE
// of every byte after it in the low 16 bits, high 16 bits 0); the 46 numeric
// slots as 32-bit words; the 23 string slots as UTF-16LE each followed by a
// 16-bit 0.
//
// Thread: UI thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/os/ov_string.h"

namespace shell {

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, MSB first, no final
// XOR; 0xFFFF for an empty range.
uint16_t Crc16CcittFalse(const uint8_t* data, size_t size);

class UserOptions {
 public:
  static constexpr int kNumericCount = 46;
  static constexpr int kStringCount = 23;
  static constexpr int kNumericKeyCount = 40;  // slots with a key name (0-36, 38, 39)
  static constexpr int kStringKeyCount = 20;   // string slots 0-19
  static constexpr int kHelpOnSlot = 45;
  static constexpr int kVersionSlot = 11;
  static constexpr int kSkinPathSlot = 21;
  static constexpr uint32_t kFormatWord = 7;

  // Called as listener(is_string, index) after a change made by name or by
  // SetNumericOption.
  using ChangeListener = std::function<void(bool is_string, int index)>;

  // file_path: where "user.opt" lives.
  explicit UserOptions(ov::String file_path);

  void SetChangeListener(ChangeListener listener) { listener_ = std::move(listener); }
  const ov::String& file_path() const { return path_; }

  // Address of a slot; null when the index is out of range.
  uint32_t* GetOption(int index);
  ov::String* GetStringOption(int index);

  uint32_t* FindNumericByKey(std::u16string_view key);
  int FindNumericIndex(std::u16string_view key) const;
  ov::String* FindStringByKey(std::u16string_view key);
  int FindStringIndex(std::u16string_view key) const;

  // Sets the slot named key (string keys first, then numeric keys read as a
  // decimal with _wtol rules). True when a value changed; the save is then
  // due in a second and the listener is told.
  bool SetOptionByName(std::u16string_view key, const ov::String& text);
  // Index 0 to 40 only; true when stored.
  bool SetNumericOption(int index, uint32_t value);

  // now: write at once; else save one second from the current tick count.
  void SaveOptionsLater(bool now);
  // Writes the file when the save deadline has passed.
  void SaveIfDue();
  // Writes the file now when a save is waiting, due or not: the screen
  // manager calls it before it goes (a turn, the end), so that a change made
  // in the last second is not lost with it. A failed write leaves the save
  // waiting, due a second later.
  void SaveIfPending();
  // The save deadline in tick-count ms; 0 when nothing is waiting.
  uint32_t save_deadline() const { return deadline_; }

  // Loads "user.opt"; a refused file gives the defaults (numeric slots 0,
  // help on) and a save one second later. String slot 11 becomes "1.62" in
  // every case. True when the file was accepted.
  bool LoadOptions();
  // Writes the file (atomically). True on success.
  bool SaveOptions();

  // Loads an image of the file held in memory (the options fuzz target and
  // the loader share this). Same results as LoadOptions.
  bool LoadFromBytes(const uint8_t* data, size_t size);
  // The bytes SaveOptions writes.
  void SerializeTo(std::vector<uint8_t>* out) const;

 private:
  void MarkChanged(bool is_string, int index);
  void ApplyDefaults();

  ov::String path_;
  uint32_t numeric_[kNumericCount] = {};
  ov::String strings_[kStringCount];
  uint32_t deadline_ = 0;
  ChangeListener listener_;
};

// The key name of a numeric or string slot; empty for slots without a key.
std::u16string_view NumericOptionKey(int index);
std::u16string_view StringOptionKey(int index);

}  // namespace shell

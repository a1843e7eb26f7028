// A small AVR assembler: encodes the handful of instructions that the generated MCU
// applications use into 16-bit program words, and resolves branch and jump labels. Addresses
// are word addresses, as the AVR program counter counts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace image_generator {

// Single instructions, encoded as in the AVR instruction set (one word each unless noted).
uint16_t AvrLdi(unsigned rd, uint8_t k);         // rd 16..31
uint16_t AvrEor(unsigned rd, unsigned rr);       // rd, rr 0..31
uint16_t AvrDec(unsigned rd);                    // rd 0..31
uint16_t AvrOut(unsigned ioAddr, unsigned rr);   // ioAddr 0..63
uint16_t AvrSbi(unsigned ioAddr, unsigned bit);  // ioAddr 0..31, bit 0..7
uint16_t AvrCbi(unsigned ioAddr, unsigned bit);  // ioAddr 0..31, bit 0..7
constexpr uint16_t kAvrRet = 0x9508;
constexpr uint16_t kAvrCli = 0x94F8;
constexpr uint16_t kAvrWdr = 0x95A8;

// The two words of JMP and CALL to an absolute word address (22 bits).
struct AvrLongWords {
  uint16_t first;
  uint16_t second;
};
AvrLongWords AvrJmp(uint32_t target);
AvrLongWords AvrCall(uint32_t target);

// Relative transfers, by word offset from the next instruction. Returns false when the offset
// is out of the instruction's range.
bool AvrRjmp(int offset, uint16_t* word);   // -2048..2047
bool AvrRcall(int offset, uint16_t* word);  // -2048..2047
bool AvrBrne(int offset, uint16_t* word);   // -64..63

// A program under construction, placed at a fixed word address. Labels may be used before they
// are placed; Finish() resolves them.
class AvrProgram {
 public:
  using Label = size_t;

  explicit AvrProgram(uint32_t origin) : origin_(origin) {}

  Label NewLabel();
  void Place(Label label);  // at the current position
  uint32_t Here() const { return origin_ + static_cast<uint32_t>(words_.size()); }

  void Emit(uint16_t word) { words_.push_back(word); }
  void Emit(AvrLongWords words);
  void Jmp(Label target);
  void Call(Label target);
  void Rjmp(Label target);
  void Rcall(Label target);
  void Brne(Label target);

  // Resolves every label use. False when a label was never placed or a relative transfer
  // cannot reach its label; the words are then not to be used.
  bool Finish();

  // Program words as bytes, little-endian, as they lie in flash.
  std::vector<uint8_t> Bytes() const;

 private:
  enum class Kind { kJmp, kCall, kRjmp, kRcall, kBrne };
  struct Use {
    Kind kind;
    size_t index;  // of the instruction's first word in words_
    Label label;
  };
  static constexpr uint32_t kUnplaced = UINT32_MAX;

  void AddUse(Kind kind, Label target, size_t words);

  uint32_t origin_;
  std::vector<uint16_t> words_;
  std::vector<uint32_t> labels_;  // word address of each label, or kUnplaced
  std::vector<Use> uses_;
};

}  // namespace image_generator

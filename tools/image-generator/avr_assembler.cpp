// Encodes AVR instructions bit for bit after the AVR instruction set and resolves labels.
#include "tools/image-generator/avr_assembler.h"

#include "contract/little_endian.h"

namespace image_generator {

uint16_t AvrLdi(unsigned rd, uint8_t k) {
  // 1110 KKKK dddd KKKK, registers r16..r31 only
  return static_cast<uint16_t>(0xE000 | ((k & 0xF0) << 4) | (((rd - 16) & 0x0F) << 4) | (k & 0x0F));
}

uint16_t AvrEor(unsigned rd, unsigned rr) {
  // 0010 01rd dddd rrrr
  return static_cast<uint16_t>(0x2400 | ((rr & 0x10) << 5) | ((rd & 0x1F) << 4) | (rr & 0x0F));
}

uint16_t AvrDec(unsigned rd) {
  // 1001 010d dddd 1010
  return static_cast<uint16_t>(0x940A | ((rd & 0x1F) << 4));
}

uint16_t AvrOut(unsigned ioAddr, unsigned rr) {
  // 1011 1AAr rrrr AAAA
  return static_cast<uint16_t>(0xB800 | ((ioAddr & 0x30) << 5) | ((rr & 0x1F) << 4) |
                               (ioAddr & 0x0F));
}

uint16_t AvrSbi(unsigned ioAddr, unsigned bit) {
  // 1001 1010 AAAA Abbb
  return static_cast<uint16_t>(0x9A00 | ((ioAddr & 0x1F) << 3) | (bit & 0x07));
}

uint16_t AvrCbi(unsigned ioAddr, unsigned bit) {
  // 1001 1000 AAAA Abbb
  return static_cast<uint16_t>(0x9800 | ((ioAddr & 0x1F) << 3) | (bit & 0x07));
}

namespace {

// 1001 010k kkkk 11ck kkkk kkkk kkkk kkkk: c tells CALL from JMP.
AvrLongWords LongTransfer(uint16_t opcode, uint32_t target) {
  const uint16_t high =
      static_cast<uint16_t>((((target >> 17) & 0x1F) << 4) | ((target >> 16) & 1));
  return {static_cast<uint16_t>(opcode | high), static_cast<uint16_t>(target & 0xFFFF)};
}

bool Relative12(uint16_t opcode, int offset, uint16_t* word) {
  if (offset < -2048 || offset > 2047) return false;
  *word = static_cast<uint16_t>(opcode | (static_cast<unsigned>(offset) & 0x0FFF));
  return true;
}

}  // namespace

AvrLongWords AvrJmp(uint32_t target) {
  return LongTransfer(0x940C, target);
}
AvrLongWords AvrCall(uint32_t target) {
  return LongTransfer(0x940E, target);
}

bool AvrRjmp(int offset, uint16_t* word) {
  return Relative12(0xC000, offset, word);
}
bool AvrRcall(int offset, uint16_t* word) {
  return Relative12(0xD000, offset, word);
}

bool AvrBrne(int offset, uint16_t* word) {
  // 1111 01kk kkkk k001: BRBC on the Z flag
  if (offset < -64 || offset > 63) return false;
  *word = static_cast<uint16_t>(0xF401 | ((static_cast<unsigned>(offset) & 0x7F) << 3));
  return true;
}

AvrProgram::Label AvrProgram::NewLabel() {
  labels_.push_back(kUnplaced);
  return labels_.size() - 1;
}

void AvrProgram::Place(Label label) {
  labels_.at(label) = Here();
}

void AvrProgram::Emit(AvrLongWords words) {
  words_.push_back(words.first);
  words_.push_back(words.second);
}

void AvrProgram::AddUse(Kind kind, Label target, size_t words) {
  uses_.push_back({kind, words_.size(), target});
  words_.insert(words_.end(), words, 0);  // filled in by Finish()
}

void AvrProgram::Jmp(Label target) {
  AddUse(Kind::kJmp, target, 2);
}
void AvrProgram::Call(Label target) {
  AddUse(Kind::kCall, target, 2);
}
void AvrProgram::Rjmp(Label target) {
  AddUse(Kind::kRjmp, target, 1);
}
void AvrProgram::Rcall(Label target) {
  AddUse(Kind::kRcall, target, 1);
}
void AvrProgram::Brne(Label target) {
  AddUse(Kind::kBrne, target, 1);
}

bool AvrProgram::Finish() {
  for (const Use& use : uses_) {
    if (use.label >= labels_.size() || labels_[use.label] == kUnplaced) return false;
    const uint32_t target = labels_[use.label];
    // Relative transfers count from the instruction after the one-word branch.
    const int offset = static_cast<int>(target) - static_cast<int>(origin_ + use.index + 1);
    bool ok = true;
    switch (use.kind) {
      case Kind::kJmp:
      case Kind::kCall: {
        const AvrLongWords w = use.kind == Kind::kJmp ? AvrJmp(target) : AvrCall(target);
        words_[use.index] = w.first;
        words_[use.index + 1] = w.second;
        break;
      }
      case Kind::kRjmp:
        ok = AvrRjmp(offset, &words_[use.index]);
        break;
      case Kind::kRcall:
        ok = AvrRcall(offset, &words_[use.index]);
        break;
      case Kind::kBrne:
        ok = AvrBrne(offset, &words_[use.index]);
        break;
    }
    if (!ok) return false;
  }
  return true;
}

std::vector<uint8_t> AvrProgram::Bytes() const {
  std::vector<uint8_t> bytes(words_.size() * 2);
  for (size_t i = 0; i < words_.size(); ++i) little_endian::Store16(&bytes[2 * i], words_[i]);
  return bytes;
}

}  // namespace image_generator

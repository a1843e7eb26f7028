// The MCU application images: a start-up sequence like a C runtime's, a main loop that blinks a
// status LED on port B and shows the revision letter on port A, a 1-Wire CRC-8 table as
// constant data, and the firmware description that the module reports back.
#include "tools/image-generator/mcu_image.h"

#include <cstring>
#include <string>

#include "images/image_list.h"
#include "modlib/records.h"
#include "tools/image-generator/avr_assembler.h"

namespace image_generator {
namespace {

// ATmega162 I/O-space addresses (for IN/OUT/SBI/CBI) and the top of its internal SRAM.
constexpr unsigned kSreg = 0x3F;
constexpr unsigned kSph = 0x3E;
constexpr unsigned kSpl = 0x3D;
constexpr unsigned kPortA = 0x1B;
constexpr unsigned kDdrA = 0x1A;
constexpr unsigned kPortB = 0x18;
constexpr unsigned kDdrB = 0x17;
constexpr uint16_t kRamEnd = 0x04FF;

constexpr char kMcuName[] = "AVR ATmega162";
constexpr char kManufacturer[] = "Tevron Ltd.";
constexpr char kAuthor[] = "Sorokin I.P.";
// "Standard firmware of the R46-90 module for hardware revision ", in code page 1251; the
// revision letter follows.
constexpr char kCommentsPrefix[] =
    "\xd1\xf2\xe0\xed\xe4\xe0\xf0\xf2\xed\xe0\xff \xef\xf0\xee\xf8\xe8\xe2\xea\xe0 "
    "\xec\xee\xe4\xf3\xeb\xff R46-90 \xe4\xeb\xff "
    "\xe0\xef\xef\xe0\xf0\xe0\xf2\xed\xee\xe9 \xf0\xe5\xe2\xe8\xe7\xe8\xe8 ";

void EmitProgram(AvrProgram& p, const McuImageParams& params) {
  const AvrProgram::Label reset = p.NewLabel();
  const AvrProgram::Label badInterrupt = p.NewLabel();
  const AvrProgram::Label appMain = p.NewLabel();
  const AvrProgram::Label loop = p.NewLabel();
  const AvrProgram::Label delay = p.NewLabel();
  const AvrProgram::Label outer = p.NewLabel();
  const AvrProgram::Label inner = p.NewLabel();
  const AvrProgram::Label halt = p.NewLabel();

  // Vector 0 is reset; no interrupt is enabled, so every other vector is a stray one.
  p.Jmp(reset);
  for (unsigned v = 1; v < kAvrVectorCount; ++v) p.Jmp(badInterrupt);

  p.Place(reset);
  p.Emit(AvrEor(1, 1));  // r1 is the zero register
  p.Emit(AvrOut(kSreg, 1));
  p.Emit(AvrLdi(28, kRamEnd & 0xFF));
  p.Emit(AvrLdi(29, kRamEnd >> 8));
  p.Emit(AvrOut(kSph, 29));
  p.Emit(AvrOut(kSpl, 28));
  p.Call(appMain);
  p.Jmp(halt);

  p.Place(badInterrupt);  // a stray interrupt restarts the application
  p.Emit(AvrJmp(0));

  p.Place(appMain);
  p.Emit(AvrLdi(24, 0xFF));
  p.Emit(AvrOut(kDdrA, 24));
  p.Emit(AvrOut(kDdrB, 24));
  p.Emit(AvrLdi(24, static_cast<uint8_t>(params.revision)));
  p.Emit(AvrOut(kPortA, 24));
  p.Place(loop);
  p.Emit(kAvrWdr);
  p.Emit(AvrSbi(kPortB, 0));
  p.Rcall(delay);
  p.Emit(AvrCbi(kPortB, 0));
  p.Rcall(delay);
  p.Rjmp(loop);

  p.Place(delay);
  p.Emit(AvrLdi(25, params.blinkDelay));
  p.Place(outer);
  p.Emit(AvrLdi(24, 0xFF));
  p.Place(inner);
  p.Emit(AvrDec(24));
  p.Brne(inner);
  p.Emit(AvrDec(25));
  p.Brne(outer);
  p.Emit(kAvrRet);

  p.Place(halt);
  p.Emit(kAvrCli);
  const AvrProgram::Label spin = p.NewLabel();
  p.Place(spin);
  p.Rjmp(spin);
}

// The Dallas/Maxim 1-Wire CRC-8 (reflected polynomial 0x8C), as a 256-byte lookup table.
std::vector<uint8_t> Crc8Table() {
  std::vector<uint8_t> table(256);
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8C : crc >> 1;
    table[i] = static_cast<uint8_t>(crc);
  }
  return table;
}

FirmwareDescription Description(const McuImageParams& params) {
  FirmwareDescription d;
  SetFieldText(d.McuName, kMcuName);
  SetFieldText(d.Version, params.version);
  SetFieldText(d.Created, params.created);
  SetFieldText(d.Manufacturer, kManufacturer);
  SetFieldText(d.Author, kAuthor);
  SetFieldText(d.Comments, std::string(kCommentsPrefix) + params.revision);
  return d;
}

}  // namespace

std::vector<uint8_t> BuildMcuImage(const McuImageParams& params) {
  AvrProgram program(0);
  EmitProgram(program, params);
  if (!program.Finish()) return {};

  std::vector<uint8_t> code = program.Bytes();
  const std::vector<uint8_t> table = Crc8Table();
  code.insert(code.end(), table.begin(), table.end());

  if (params.size < images::kDescriptionBlockFromEnd) return {};
  const uint32_t descriptionAt = params.size - images::kDescriptionBlockFromEnd;
  if (code.size() > descriptionAt) return {};

  std::vector<uint8_t> image(params.size, 0);
  std::memcpy(image.data(), code.data(), code.size());
  // The record is all 8-bit text fields, so its bytes are its layout.
  const FirmwareDescription description = Description(params);
  std::memcpy(image.data() + descriptionAt, &description, sizeof description);
  return image;
}

}  // namespace image_generator

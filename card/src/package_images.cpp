#include "package_images.h"

namespace vexa::card {

namespace {

// The images begin with a small header (package identifier, version, code file
// identifier, length) followed by the code body.
std::vector<BYTE> Image(BYTE id, BYTE version, BYTE fidHi, BYTE fidLo, std::size_t size) {
  std::vector<BYTE> img(size);
  img[0] = id;
  img[1] = version;
  img[2] = fidHi;
  img[3] = fidLo;
  img[4] = static_cast<BYTE>(size >> 8);
  img[5] = static_cast<BYTE>(size);
  // Body: a fixed byte sequence (linear congruential generator, seed = id).
  unsigned state = id;
  for (std::size_t i = 6; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    img[i] = static_cast<BYTE>(state >> 16);
  }
  return img;
}

}  // namespace

std::vector<BYTE> GenKeyPackageImage() { return Image(0x07, 0x02, 0xCF, 0x07, 4359); }
std::vector<BYTE> GenKeyPackageParams() { return {0xCF, 0x07, 0x07, 0x02, 0x11, 0x07, 0x00, 0x00}; }
std::vector<BYTE> ChannelPackageImage() { return Image(0x08, 0x01, 0xCF, 0x08, 727); }
std::vector<BYTE> ChannelPackageParams() { return {0xCF, 0x08, 0x08, 0x01, 0x02, 0xD7, 0x00, 0x00}; }

}  // namespace vexa::card

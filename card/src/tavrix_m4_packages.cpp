// CTavrixM4: code packages (listing, checking, loading) and logical channels.
#include <algorithm>
#include <cstring>

#include "command_builder.h"
#include "package_images.h"
#include "response_parsers.h"
#include "vexa/card/tavrix_m4.h"

using vexa::card::Command;
using vexa::card::Hi;
using vexa::card::Lo;
using vexa::card::Run;

LONG CTavrixM4::GetPackages(PACKAGE* pPkgs, DWORD* pdwCount) {
  return Run("CTavrixM4::GetPackages", [&]() -> LONG {
    if (!pdwCount) return CARD_ERR_ARGUMENT;
    Command c(0x00, 0xCA, 0x01, 0x88, 0x80);
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Transmit(c, nullptr, resp, &len);
    if (rc != 0) return rc;
    const DWORD capacity = pPkgs ? *pdwCount : 0;
    *pdwCount = vexa::card::ParsePackages({resp, len}, pPkgs, capacity);
    return 0;
  });
}

LONG CTavrixM4::IsPackagePresent(PACKAGE pkg) {
  return Run("CTavrixM4::IsPackagePresent", [&]() -> LONG {
    PACKAGE list[64];
    DWORD n = 64;
    if (GetPackages(list, &n) != 0) return 0;
    n = std::min<DWORD>(n, 64);
    return std::any_of(list, list + n,
                       [&](const PACKAGE& p) { return p.id == pkg.id && p.version == pkg.version; })
               ? 1
               : 0;
  });
}

LONG CTavrixM4::cmdLOAD_EXECUTABLE(const BYTE* pbData, DWORD dwLen, BYTE bP1, BYTE bP2) {
  return Run("CTavrixM4::cmdLOAD_EXECUTABLE", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    BYTE cla = 0;
    if (IsM4() == 1) {
      cla = 0x80;
    } else if (IsM401() == 1 || IsM401a() == 1 || IsM410() == 1 || IsM420() == 1 ||
               IsM42b() == 1 || IsM440() == 1) {
      cla = 0x84;
    } else {
      return CARD_ERR_VERSION;
    }
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(cla, 0x20, bP1, bP2);
    c.Add(std::span<const BYTE>(pbData, dwLen));
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM4::CreateAndLoadPackage(std::span<const BYTE> createTemplate,
                                     std::span<const BYTE> image, DWORD partSize,
                                     std::span<const BYTE> params, bool stopOnStatus) {
  // A status word stops the sequence only when stopOnStatus is set; a
  // transmission error (negative) always does.
  const auto failed = [&](LONG rc) { return rc < 0 || (stopOnStatus && rc != 0); };
  Command create(0x00, 0xE0, 0x00, 0x00);
  create.Add(createTemplate);
  LONG rc = Transmit(create, nullptr);
  if (failed(rc)) return rc;
  for (std::size_t off = 0; off < image.size(); off += partSize) {
    const std::size_t n = std::min<std::size_t>(partSize, image.size() - off);
    Command part(0x00, 0xD6, Hi(static_cast<DWORD>(off)), Lo(static_cast<DWORD>(off)));
    part.Add(image.subspan(off, n));
    rc = Transmit(part, nullptr);
    if (failed(rc)) return rc;
  }
  Command load(0x80, 0x20, 0x00, 0x00);
  load.Add(params);
  return Transmit(load, nullptr);
}

LONG CTavrixM4::LoadGenKey() {
  return Run("CTavrixM4::LoadGenKey", [&]() -> LONG {
    static constexpr BYTE kCreate[28] = {0x6F, 0x1A, 0x81, 0x02, 0x11, 0x07, 0x82, 0x03, 0x21, 0x00,
                                         0x00, 0x83, 0x02, 0xCF, 0x07, 0x85, 0x03, 0x00, 0x00, 0x00,
                                         0x86, 0x06, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto image = vexa::card::GenKeyPackageImage();
    const auto params = vexa::card::GenKeyPackageParams();
    return CreateAndLoadPackage(kCreate, image, 96, params, true);
  });
}

LONG CTavrixM4::ManageChannelPackage() {
  return Run("CTavrixM4::ManageChannelPackage", [&]() -> LONG {
    Command select(0x00, 0xA4, 0x00, 0x00);
    LONG rc = Transmit(select, nullptr);
    if (rc < 0) return rc;
    static constexpr BYTE kCreate[31] = {0x6F, 0x1D, 0x81, 0x02, 0x02, 0xD7, 0x82, 0x03,
                                         0x21, 0x00, 0x00, 0x83, 0x02, 0xCF, 0x08, 0x85,
                                         0x03, 0x00, 0x00, 0x00, 0x86, 0x09, 0xFF, 0x00,
                                         0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF};
    const auto image = vexa::card::ChannelPackageImage();
    const auto params = vexa::card::ChannelPackageParams();
    return CreateAndLoadPackage(kCreate, image, 240, params, false);
  });
}

LONG CTavrixM4::OpenChannel(BYTE* pbChannel) {
  return Run("CTavrixM4::OpenChannel", [&]() -> LONG {
    const BYTE asked = pbChannel ? *pbChannel : 0;
    Command c(0x00, 0x70, 0x00, asked);
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Transmit(c, nullptr, resp, &len);
    if (rc != 0) return rc;
    BYTE channel = asked;
    if (channel == 0 && len > 0) channel = resp[0];
    if (pbChannel) *pbChannel = channel;
    Set_ChannelUsed(channel);
    return 0;
  });
}

LONG CTavrixM4::CloseChannel(BYTE bChannel) {
  return Run("CTavrixM4::CloseChannel", [&]() -> LONG {
    Command c(0x00, 0x70, 0x80, bChannel);
    const LONG rc = Transmit(c, nullptr);
    if (rc != 0) return rc;
    Set_ChannelUsed(0);
    return 0;
  });
}

#include "vexa/platform/globaldata.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "vexa/platform/trace.h"

namespace {

constexpr DWORD kHeader = 4;  // the 32-bit payload length

// The length word is read and written as one 32-bit access: another process
// may be looking at the same word.
std::atomic_ref<uint32_t> LengthWord(BYTE* view) {
  return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(view));
}

}  // namespace

CGlobalData::CGlobalData() : m_dwSize(0), m_bCreated(FALSE), m_pView(nullptr) {
  Trace(4, "\tCGlobalData::CGlobalData\n");
}

CGlobalData::~CGlobalData() { Close(); }

void CGlobalData::Close() {
  m_hMapFile.Close();
  m_pView = nullptr;
  m_dwSize = 0;
  m_bCreated = FALSE;
  m_bExisted = false;
}

int CGlobalData::Create(const char* name, DWORD dwSize) {
  try {
    Close();
    if (name == nullptr || *name == '\0' || dwSize <= kHeader) {
      Trace(4, "\tnot good memory mapped file - 0x%08x\n", 0u);
      return -3;
    }
    std::string objectName = vexa::detail::PosixObjectName(name, geteuid());
    auto result = m_hMapFile.Open(objectName, dwSize, nullptr);
    switch (result) {
      case vexa::detail::SharedSegment::OpenResult::OpenFailed:
        Trace(4, "\tnot good memory mapped file - 0x%08x\n", static_cast<unsigned>(errno));
        return -3;
      case vexa::detail::SharedSegment::OpenResult::MapFailed:
        Trace(4, "can't map view\n");
        return -1;
      case vexa::detail::SharedSegment::OpenResult::Opened:
        m_bExisted = true;
        Trace(4, "already exists\n");
        break;
      case vexa::detail::SharedSegment::OpenResult::Created:
        m_bExisted = false;
        Trace(4, "not exists\n");
        break;
    }
    auto bytes = m_hMapFile.Bytes();
    m_pView = bytes.data();
    // Another process may have made the block with another size: use the size
    // the block really has (at most 4 GiB - 1 are addressed).
    m_dwSize = bytes.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bytes.size());
    m_strFileName = name;
    m_strObjectName = std::move(objectName);
    m_bCreated = TRUE;
    Trace(4, "m_strFileName: %s\r\n", m_strFileName.c_str());
    Trace(4, "\tCGlobalData::Create\n");
    return 0;
  } catch (...) {
    Close();
    return -3;
  }
}

DWORD CGlobalData::StoredLength() const {
  return LengthWord(m_pView).load(std::memory_order_acquire);
}

int CGlobalData::Write(const BYTE* pbData, DWORD n) {
  if (!m_bCreated) return -1;
  if (n > m_dwSize - kHeader || (pbData == nullptr && n > 0)) {
    Trace(4, "\tCGlobalData::Write - %u bytes do not fit in a block of %u bytes\n",
          static_cast<unsigned>(n), static_cast<unsigned>(m_dwSize));
    return -2;
  }
  // Empty first, so that a reader never takes the new length for the old bytes.
  LengthWord(m_pView).store(0, std::memory_order_release);
  if (n > 0) std::memcpy(m_pView + kHeader, pbData, n);
  LengthWord(m_pView).store(n, std::memory_order_release);
  Trace(4, "\tCGlobalData::Write\n");
  return 0;
}

int CGlobalData::Read(BYTE* pbBuffer, DWORD* pdwLen) {
  if (!m_bCreated || pdwLen == nullptr) return -1;
  const DWORD n = StoredLength();
  if (n == 0) {
    *pdwLen = 0;
    return -1;
  }
  if (n > m_dwSize - kHeader) {
    Trace(4, "\tCGlobalData::Read - stored length %u does not fit in a block of %u bytes\n",
          static_cast<unsigned>(n), static_cast<unsigned>(m_dwSize));
    *pdwLen = 0;
    return -1;
  }
  if (pbBuffer != nullptr) {
    if (*pdwLen < n) {
      *pdwLen = n;
      return -2;
    }
    std::memcpy(pbBuffer, m_pView + kHeader, n);
  }
  *pdwLen = n;
  Trace(4, "\tCGlobalData::Read\n");
  return 0;
}

int CGlobalData::Read(std::vector<BYTE>& data) {
  try {
    // The payload may grow between asking its length and copying it.
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD n = 0;
      int rc = Read(nullptr, &n);
      if (rc != 0) {
        data.clear();
        return rc;
      }
      data.assign(n, 0);
      rc = Read(data.data(), &n);
      if (rc == 0) {
        data.resize(n);
        return 0;
      }
      if (rc != -2) break;
    }
    data.clear();
    return -1;
  } catch (...) {
    data.clear();
    return -1;
  }
}

int CGlobalData::Reset() {
  if (!m_bCreated || StoredLength() == 0) return -1;
  LengthWord(m_pView).store(0, std::memory_order_release);
  std::memset(m_pView + kHeader, 0, m_dwSize - kHeader);
  Trace(4, "\tCGlobalData::Reset\n");
  return 0;
}

bool CGlobalData::IsEmpty() const {
  if (!m_bCreated) return true;
  return StoredLength() == 0;
}

#include "vexa/card/pcsc_table.h"

#include <atomic>

namespace vexa::card {
namespace {

const PcscFunctions kLibpcsclite = {
    &::SCardEstablishContext, &::SCardReleaseContext, &::SCardListReaders,
    &::SCardConnect,          &::SCardReconnect,      &::SCardDisconnect,
    &::SCardBeginTransaction, &::SCardEndTransaction, &::SCardTransmit,
    &::SCardGetAttrib,        &::SCardGetStatusChange, &::SCardCancel,
    &::SCardFreeMemory,       &::SCardStatus,
};

// The table in use; read on every PC/SC call, replaced only by tests.
std::atomic<const PcscFunctions*> g_table{&kLibpcsclite};

}  // namespace

const PcscFunctions& DefaultPcscFunctions() noexcept { return kLibpcsclite; }

const PcscFunctions& Pcsc() noexcept { return *g_table.load(std::memory_order_acquire); }

void SetPcscFunctions(const PcscFunctions* table) noexcept {
  g_table.store(table != nullptr ? table : &kLibpcsclite, std::memory_order_release);
}

}  // namespace vexa::card

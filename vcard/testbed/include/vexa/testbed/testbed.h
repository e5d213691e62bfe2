// The PC/SC test bed: a private pcscd with vpcd virtual readers, and virtual
// cards (the vexa-vcard program) put into and taken out of those readers.
//
// How a test uses it. In CMake:
//
//   vexa_add_test(my_card_tests SOURCES tests/test_x.cpp
//                 LIBS vexatestbed vexavcardos LABELS card)   # vexavcardos for perso.h
//
// In the test:
//
//   #include "vexa/testbed/testbed.h"
//   using vexa::testbed::PcscTestbed;
//   using vexa::testbed::VirtualCard;
//
//   class MyCardTest : public ::testing::Test {
//    protected:
//     static void SetUpTestSuite() { s_bed = std::make_unique<PcscTestbed>(1); }
//     static void TearDownTestSuite() { s_bed.reset(); }
//     static std::unique_ptr<PcscTestbed> s_bed;
//   };
//
//   TEST_F(MyCardTest, Something) {
//     std::string image = s_bed->Dir() + "/card.img";   // write it with perso.h
//     const std::string reader = s_bed->ReaderNames()[0]; // "Vexa Reader A 00 00"
//     VirtualCard card(*s_bed, reader, image);           // returns once PRESENT
//     ... SCardEstablishContext / SCardConnect(reader) / SCardTransmit ...
//     auto log = card.Log();                             // what the card received
//     card.Remove();                                     // returns once EMPTY
//     card.Insert();                                     // returns once PRESENT
//   }
//
// Rules that come from pcsc-lite and the platform:
// - Build the PcscTestbed before the first PC/SC call of the process: the
//   PC/SC client library reads PCSCLITE_CSOCK_NAME once and keeps that socket
//   path for the life of the process. For the same reason one process has at
//   most one PcscTestbed at a time (a second one throws std::logic_error);
//   test beds made one after another reuse one socket path per process, so a
//   fixture may make a new one per test (starting takes tens of ms, stopping
//   from a few ms up to about 2 s while the vpcd driver closes its slots).
//   Child processes inherit the variable, so a program a test starts
//   (p11tool, ssh-keygen -D, ...) talks to the private pcscd too. Under ctest
//   each test case is its own process, so SetUpTestSuite runs once per case.
// - Several test programs may run at once (ctest -j): each has its own pcscd,
//   socket, folder and TCP ports (ports are reserved with lock files under
//   /tmp/vexa-testbed-ports). pcscd's /run/pcscd/pcscd.pid is shared and
//   rewritten by each instance; nothing in this set-up reads it.
// - pcscd and the card programs are children of the thread that built the
//   bed or the card, with PR_SET_PDEATHSIG: if the test dies they are sent
//   SIGTERM, so no daemon is left behind. Build them on a thread that lives
//   as long as they do (the main thread, as gtest does).
// - Readers are found by name; pcscd does not list them in config order.
// - Every wait has a time limit (15 s) and throws std::runtime_error when it
//   passes, with pcscd's or the card's own output in the message.
// - Dir() and everything in it (card images, APDU logs, pcscd.log) is removed
//   with the bed; a VirtualCard must not outlive its bed.
// - A card pulled out in the middle of a command: InsertPullingOutOn(INS).
// - The card program is the build's vexa-vcard; the environment variable
//   VEXA_VCARD_PROGRAM names another one (the transport tests use a stand-in).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexa::testbed {

// A private pcscd (socket activation on its own Unix socket, its own config folder,
// vsmartcard-vpcd entries each with its own copy of the driver, free TCP ports).
// The constructor sets PCSCLITE_CSOCK_NAME in this process's environment and returns
// when pcscd listens; the destructor stops pcscd by its pid and removes its folder.
class PcscTestbed {
 public:
  // entries: 1 to 8 (pcscd serves at most 16 readers). Throws
  // std::invalid_argument for another count, std::logic_error when this process
  // already has a test bed, std::runtime_error when pcscd cannot be started.
  explicit PcscTestbed(int entries = 1);      // each entry gives 2 readers: "<Name> 00 00", "<Name> 00 01"
  ~PcscTestbed();
  PcscTestbed(const PcscTestbed&) = delete;
  PcscTestbed& operator=(const PcscTestbed&) = delete;

  const std::string& SocketPath() const;
  std::vector<std::string> ReaderNames() const;  // the names pcscd will list, in config order
  int Port(const std::string& reader) const;     // vpcd TCP port of that reader (std::out_of_range if unknown)
  const std::string& Dir() const;                // its temporary folder (put card images here)
  int DaemonPid() const;                         // pcscd's process id

  struct Impl;

 private:
  friend class VirtualCard;
  std::unique_ptr<Impl> m_impl;
};

// One virtual card (the vexa-vcard program) in one virtual reader.
class VirtualCard {
 public:
  // Starts vexa-vcard with the image; returns once pcscd reports the card present (time limit).
  // The bed must outlive the card. Throws std::out_of_range for an unknown
  // reader, std::runtime_error when the card does not appear in time.
  VirtualCard(PcscTestbed& bed, const std::string& reader, const std::string& imagePath);
  ~VirtualCard();                                // removes the card if inserted
  VirtualCard(const VirtualCard&) = delete;
  VirtualCard& operator=(const VirtualCard&) = delete;

  void Remove();                                 // returns once pcscd reports the reader empty
  void Insert();                                 // returns once pcscd reports the card present
  // Inserts the card (returns once present) so that it is pulled out in the
  // middle of the first command APDU with this INS: that command gets no
  // answer and the connection closes (SCardTransmit then gives 0 bytes, later
  // calls SCARD_F_COMM_ERROR until pcscd sees the removal). Call Remove() to
  // wait until pcscd reports the reader empty. Insert() inserts a normal card.
  void InsertPullingOutOn(uint8_t ins);
  bool Inserted() const;                         // the card program is running
  struct Exchange { std::vector<uint8_t> command, response; };
  std::vector<Exchange> Log() const;             // every command APDU with its response, in order
  void ClearLog();
  const std::string& LogPath() const;            // the card's APDU log file

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vexa::testbed

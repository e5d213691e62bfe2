// Card monitoring: one background thread per watched reader reports card
// insertion and removal through a callback (CCardSession::StartCardMonitoringEx,
// CCardSession::StopCardMonitoring).
#pragma once

// Event codes a monitoring callback receives.
enum {
  CARD_EVENT_PRESENT = 1,       // a card is present when monitoring of the reader starts
  CARD_EVENT_INSERTED = 2,      // a card was inserted
  CARD_EVENT_REMOVED = 3,       // the card was removed
  CARD_EVENT_READER_GONE = 4,   // the reader became unavailable
};

// Called on the monitoring thread with the reader name and the event code; what
// it does must be safe against the application's own threads. It must not call
// StopCardMonitoring.
typedef void (*PFN_CARD_EVENT)(const char* szReader, int nEvent);

// The number of readers that can be watched at once.
#define VEXA_MAX_MONITORED_READERS 10
// The longest reader name a monitoring entry holds (characters, without the NUL).
#define VEXA_MAX_MONITORED_NAME 259

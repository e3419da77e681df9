#pragma once
// The directory listing every directory-like layer hands out: one record of
// kPkgRecordSize bytes per entry. A layer derives from TPkgListing, says how
// to start over and how to produce the next entry, and puts Map and Fill
// below into its handle's operations; the handle's layerData is the listing.
#include <cstdint>

#include "filepkg/filepkg.h"

class TPkgListing {
public:
  virtual ~TPkgListing() = default;

  // Hands out the rest of the record at the handle's position, never more:
  // a Map never crosses from one record into the next. Reading a record
  // before the current one starts the entries over. Read only.
  static uint8_t* Map(TPkgStream* stream, int forWriting, int32_t* length);
  // Produces the next entry: size grows by one record. Non-zero at the end.
  static int Fill(TPkgStream* stream);

protected:
  // Goes back to before the first entry; false when that is impossible.
  virtual bool Rewind() = 0;
  // Writes the next entry's name into record (kPkgRecordSize bytes, zeroed
  // by the caller, the name at most kPkgRecordSize - 1 characters); false at
  // the end of the entries, and on every call after that until a Rewind.
  virtual bool NextEntry(char* record) = 0;

private:
  bool StepTo(int32_t index);

  char m_record[kPkgRecordSize] = {};
  int32_t m_index = -1; // entry held in m_record, -1 before the first
  bool m_ended = false;
};

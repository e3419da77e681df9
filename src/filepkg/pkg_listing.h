#pragma once
// The directory listing every directory-like layer hands out: one record of
// kPkgRecordSize bytes per entry. A layer derives from TPkgListing, says how
// to start over and how to produce the next entry, and puts Map and Fill
// below into its handle's operations; the handle's layerData is the listing.
#include <cstddef>
#include <cstdint>
#include <string>

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

// A listing whose entries are known by number once the container is read:
// the layer says how many there are and names each.
class TPkgIndexedListing : public TPkgListing {
protected:
  virtual size_t EntryCount() const = 0;
  // The full package name of the entry; one that does not fit a record is
  // left out (cut short, it would name something else).
  virtual std::string EntryName(size_t index) const = 0;

  bool Rewind() override;
  bool NextEntry(char* record) override;

private:
  size_t m_next = 0;
};

// The directory-like handle a container layer makes when it claims
// container: named after it with a '/' added, with its mode, access and
// time, and the listing as its layer state (taken over, also when the
// handle cannot be made: nullptr then).
TPkgStream* PkgNewContainerHandle(const TPkgOps* ops, TPkgListing* listing, const TPkgStream& container,
                                  const char* layerId);

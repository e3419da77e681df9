#pragma once
// What the readers and writers answer: how much of a picture a read got, and
// whether a write was completed, failed or stopped. The reader and writer
// entries (picture_io.h) pass these answers on to their callers.

// How much of a picture a reader read. The viewer shows whatever the image
// holds; a converter saves only a picture that was read, completely or in
// part.
enum class TReadOutcome {
  Complete,   // every row of the picture was read
  Partial,    // the data ended or went bad part-way: the rows so far are there
  Stopped,    // the user stopped the read (a stop, not a failure)
  Failed,     // the format was recognised but nothing of the picture could be read
  NotPicture, // no format this program reads was recognised
  CannotOpen, // the name could not be opened
};

// True for the outcomes that leave a picture worth saving.
inline bool PictureWasRead(TReadOutcome outcome) {
  return outcome == TReadOutcome::Complete || outcome == TReadOutcome::Partial;
}

// The results of the writers and of SavePicture: the file was written
// completely, the write failed, or the user stopped it. A failed or stopped
// write leaves the old file, or none, exactly as it was.
inline constexpr int kSaveWritten = 0;
inline constexpr int kSaveFailed = 1;
inline constexpr int kSaveStopped = 2;

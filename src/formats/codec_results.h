#pragma once
// What the readers and writers answer: how much of a picture a read got, and
// whether a write was completed, failed or stopped. The reader and writer
// entries (picture_io.h) pass these answers on to their callers.

// How much of a picture a reader read. The viewer shows whatever the image
// holds; a converter saves only a picture that was read, completely or in
// part, at its own size.
enum class TReadOutcome {
  Complete,   // every row of the picture was read
  Partial,    // the data ended or went bad part-way: the rows so far are there
  Reduced,    // read, but held smaller than the file's picture (TImage::HeldReduced)
  Stopped,    // the user stopped the read (a stop, not a failure)
  Failed,     // the format was recognised but nothing of the picture could be read
  NotPicture, // no format this program reads was recognised
  CannotOpen, // the name could not be opened
};

// True for the outcomes that leave a picture worth saving.
inline bool PictureWasRead(TReadOutcome outcome) {
  return outcome == TReadOutcome::Complete || outcome == TReadOutcome::Partial;
}

// What went wrong with a read that left no picture worth saving, told the
// same way wherever it is told: in a few words for a title ("cannot open"),
// and as a message about the file, with one %s for its name ("cannot open
// %s"). nullptr for a complete or partial read.
struct TReadFailure {
  const char* words;
  const char* message;
};
inline const TReadFailure* ReadFailure(TReadOutcome outcome) {
  static constexpr TReadFailure kStopped{"reading was stopped", "reading %s was stopped"};
  static constexpr TReadFailure kReduced{"held reduced", "%s: the picture could be held only reduced"};
  static constexpr TReadFailure kFailed{"the picture could not be read", "%s: the picture could not be read"};
  static constexpr TReadFailure kNotPicture{"not a picture this program reads", "%s: not a picture this program reads"};
  static constexpr TReadFailure kCannotOpen{"cannot open", "cannot open %s"};
  switch (outcome) {
  case TReadOutcome::Stopped: return &kStopped;
  case TReadOutcome::Reduced: return &kReduced;
  case TReadOutcome::Failed: return &kFailed;
  case TReadOutcome::NotPicture: return &kNotPicture;
  case TReadOutcome::CannotOpen: return &kCannotOpen;
  default: return nullptr;
  }
}

// The results of the writers and of SavePicture: the file was written
// completely, the write failed, or the user stopped it. A failed or stopped
// write leaves the old file, or none, exactly as it was.
inline constexpr int kSaveWritten = 0;
inline constexpr int kSaveFailed = 1;
inline constexpr int kSaveStopped = 2;

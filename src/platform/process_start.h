#pragma once
// What every program of this project does first, before it opens anything:
// it makes the standard descriptors safe to rely on and lets a file size
// limit show as a failed write.

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file opened later can be given one of their numbers and then
// receive what is meant for standard output, or be read as standard input.
// Remembers which of them were closed. False when /dev/null cannot be opened,
// in which case the process must not go on.
bool SecureStandardDescriptors();

// True when descriptor 0, 1 or 2 was closed when SecureStandardDescriptors
// ran: its /dev/null stands in for a stream the user never gave, so a command
// that needs that stream must fail instead of reading nothing or writing
// into the void.
bool StandardDescriptorWasClosed(int descriptor);

// Ignores SIGXFSZ: a write beyond the file size limit (ulimit -f) then fails
// with EFBIG, and the writer gives up and cleans up as after any other failed
// write, instead of the signal ending the process with a partial file left
// behind.
void IgnoreFileSizeSignal();

// Keeps memory the program frees for its next picture instead of handing it
// back to the system at once: a batch run frees and takes the same blocks
// (read and write buffers, codec work areas) for every file, and returning
// them each time made every file pay for fresh, zeroed pages. At most a few
// tens of megabytes stay with the process; picture blocks are not affected.
void KeepFreedMemoryForReuse();

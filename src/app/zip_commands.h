#pragma once
// Unzip and Zip Info: the two commands on top of the ZIP layer. Each writes
// its lines through a sink.
#include <string>

#include "app/line_sink.h"

// Extracts every member of the archive (a package name) into directory, by
// its file name alone: the folders inside the archive are not made. An empty
// directory is the current one. Returns true when every member was created.
bool UnzipArchive(const std::string& archive, std::string directory, const TLineSink& line);

// Lists the members of the archive with their length, date and time.
// Returns true when every member could be opened.
bool ZipInfo(const std::string& archive, const TLineSink& line);

#pragma once
// Unzip and Zip Info: the two commands on top of the ZIP layer. Each writes
// its lines (without time stamps; the log adds them) through a sink: the
// main window's log, or the tool's standard output.
#include <functional>
#include <string>

using TLineSink = std::function<void(const std::string& line)>;

// Extracts every member of the archive (a package name) into directory, by
// its file name alone: the folders inside the archive are not made. An empty
// directory is the current one. Returns true when every member was created.
bool UnzipArchive(const std::string& archive, std::string directory, const TLineSink& line);

// Lists the members of the archive with their length, date and time.
// Returns true when every member could be opened.
bool ZipInfo(const std::string& archive, const TLineSink& line);

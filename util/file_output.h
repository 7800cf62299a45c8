#pragma once
// Output files that the run must never leave half-written or silently short.

#include <functional>
#include <ostream>
#include <string>

// The folder named on the command line; every input and output file lives in it.
extern std::string solutionFolder;

// Replaces the file at path by what write() produces: the text goes to a temporary file in
// the same folder, which is renamed over the old file only once it is complete, so a crash
// or kill during the write leaves the previous file intact. Returns false when the
// temporary file cannot be opened; throws std::runtime_error naming the path when the
// write or the rename fails.
bool replaceFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write);

// Appends what write() produces to a binary file (created when missing). Returns false when
// the file cannot be opened. When the write fails (a full disk) the file is cut back to its
// old length, so that no partial record shifts every later one, and std::runtime_error
// naming the path is thrown.
bool appendBinary(const std::string& path, const std::function<void(std::ostream&)>& write);

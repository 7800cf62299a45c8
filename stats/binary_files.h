#pragma once
// The binary sample files: headerless little-endian binary64 values, always appended,
// with a record width that the reader must know.

#include <string>
#include <vector>

// Creates the folder (with its parents) when nothing exists at path. Reports "Created"
// on standard output, or the reason on standard error and returns: the open that follows
// then fails and says which file.
void ensureDirectory(const std::string& path);

// Appends every value to folder[/subfolder]/fileName; the subfolder may be given with or
// without its leading "/". Throws std::runtime_error("Failed to open file: " + path).
void writeArrayFile(const std::vector<double>& values, const std::string& folder, const std::string& subfolder,
                    const std::string& fileName);

// writeArrayFile, then empties the list; an empty list touches nothing, not even the folder.
void appendAndClearArrayFile(std::vector<double>& values, const std::string& folder, const std::string& subfolder,
                             const std::string& fileName);

// Appends raw doubles to path; false when the file cannot be opened.
bool appendDoubles(const std::string& path, const double* values, size_t count);

// Whole files in and out: reading one into memory, writing one so that it appears complete or
// not at all, and making a folder with its parents.
#ifndef PARKHAUS_TOOLS_FILES_H
#define PARKHAUS_TOOLS_FILES_H

#include <cstddef>
#include <string>

#include "bytes.h"

// Reads a whole file; false when it cannot be opened or read.
bool fileRead(const std::string &path, Bytes &out);

// Reads a whole file; empty when it cannot be read.
Bytes fileRead(const std::string &path);

// Writes a whole file under the name path + ".part" and renames it into place when complete;
// on failure removes the part file and says why ("cannot write 'x.part': ...").
bool fileWrite(const std::string &path, const void *data, size_t size, std::string &error);
bool fileWrite(const std::string &path, const Bytes &bytes, std::string &error);

// Writes all of the buffer to a descriptor, retrying short writes; false (errno set) on failure.
bool fileWriteFd(int fd, const void *data, size_t size);

// Everything in the descriptor's file from its start, whatever its position.
std::string fileReadFd(int fd);

// A temporary file in $TMPDIR (or /tmp) that is already unlinked, so nothing is left behind
// even when the process is killed; -1 on failure.
int fileTemp(void);

// Makes a folder and its missing parents; false with a reason when a part of the path is a
// file or cannot be made.
bool fileMakeDirs(const std::string &path, std::string &error);

// Makes the folder that will hold the file at path, when the path names one.
bool fileMakeParentDirs(const std::string &path, std::string &error);

#endif

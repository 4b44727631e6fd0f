#pragma once
// The reads and writes of the files the user records to or sends go through
// these calls rather than straight to the system, so that a test can put a
// file system that stalls or fails in the system's place: a network file
// system that stops answering or a disk that hangs cannot be had on demand.
// Free functions, callable from any thread.

#include <sys/types.h>

#include <cstddef>

// As write(2), read(2) and pread(2), through whatever stands in for them.
[[nodiscard]] ssize_t writeToFile(int fd, const void *data, size_t size);
[[nodiscard]] ssize_t readFromFile(int fd, void *data, size_t size);
[[nodiscard]] ssize_t readFileAt(int fd, void *data, size_t size, off_t offset);

// What stands in for the system's calls; every one must be set.
struct FileCalls {
    ssize_t (*write)(int fd, const void *data, size_t size);
    ssize_t (*read)(int fd, void *data, size_t size);
    ssize_t (*readAt)(int fd, void *data, size_t size, off_t offset);
};

// Puts the calls in the system's place until they are replaced again;
// nullptr restores the system's. The calls must outlive every thread that
// may still make one. For tests.
void replaceFileCalls(const FileCalls *calls);

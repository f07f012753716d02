#pragma once
// The process's share of the operating system's resources, without Qt.
namespace krp::platform {

// Raises the soft limit of open files to the hard limit, so that the service's connection
// limits (thousands) are not cut short by the usual soft limit of 1024. Nothing on Windows.
void raiseOpenFileLimit();

// Hands memory that the process has freed back to the operating system, where the allocator
// keeps it otherwise (after a burst of large request bodies). Any thread.
void giveBackFreeMemory();

}  // namespace krp::platform

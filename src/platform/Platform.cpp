// Implemented on the host branch.

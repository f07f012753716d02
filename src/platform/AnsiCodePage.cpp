// Implemented on the database branch.

// Filled in by work in progress.
